# Perl method calls become messages: the routes, the entry points,
# selector formation, super sends and their errors.
use strict;
use warnings;
use Test::More;
use POSIX ();
use FindBin;
use lib "$FindBin::Bin/lib";
use ErrorCapture qw(error_of message);
use Vantle;
use Vantle::TestSupport;

sub pl { Vantle::pl($_[0]) }

sub warnings_of(&) {
    my ($code) = @_;
    my @warnings;
    local $SIG{__WARN__} = sub { push @warnings, $_[0] };
    my @result = $code->();
    return (\@warnings, @result);
}

subtest 'messages to handles and to class names' => sub {
    my $s = NSString->stringWithUTF8String_("hello");
    is($s->length, 5, 'instance message with no argument');
    my $d = NSMutableDictionary->dictionary;
    $d->setObject_forKey_("value", "key");
    is(pl($d->objectForKey_("key")), "value", 'two-argument selector');
    is($d->count, 1, 'the same name again, now through the installed sub');
    ok(defined &Vantle::Object::count, 'a lower-case name gets its own sub');
    is(pl(NSNumber->numberWithDouble_(2.5)), 2.5, 'class message with a double argument');
    is(NSNumber->numberWithLongLong_(-9223372036854775807 - 1)->longLongValue,
	-9223372036854775807 - 1, '64-bit arguments and results');
};

subtest 'results in list context are one value' => sub {
    my @all = NSString->stringWithUTF8String_("x")->length;
    is(scalar @all, 1, 'one value');
    my @none = Vantle::msg_send(undef, "length");
    is(scalar @none, 1, 'one value from a nil receiver too');
    ok(!defined $none[0], 'and it is undef');
};

subtest 'entry points with literal selectors' => sub {
    my $a = NSMutableArray->array;
    Vantle::msg_send($a, "addObject:", "one");
    is(Vantle::msg_send($a, "count"), 1, 'msg_send uses the selector as written');
    ok(Vantle::msg_send($a, "containsObject:", "one"), 'with an argument');
    is(pl(Vantle::msg_send_super($a, "NSObject", "class")), pl($a->class),
	'msg_send_super starting at a named class');
    eval { Vantle::msg_send($a) };
    like($@, qr/^Usage: Vantle::msg_send\(receiver, msg, \.\.\.\)/, 'msg_send usage');
    eval { Vantle::msg_send_super($a, "NSObject") };
    like($@, qr/^Usage: Vantle::msg_send_super\(receiver, class, msg, \.\.\.\)/,
	'msg_send_super usage');
    eval { Vantle::msg_send_super($a, undef, "count") };
    like($@, qr/^Vantle::msg_send_super: Nil class/, 'a nil class');
    eval { Vantle::msg_send_super($a, "NSString", "length") };
    like($@, qr/^Vantle::msg_send_super: receiver is not a kind of class NSString/,
	'the receiver must be a kind of the class');
};

subtest 'qualified calls send to super' => sub {
    my $a = NSMutableArray->array;
    is(pl($a->description), "()", "the array's own description");
    like(pl($a->NSObject::description), qr/^<\w+Array: 0x[0-9a-f]+>$/,
	"NSObject::description skips the array's own");
    eval { $a->NSString::length };
    like($@, qr/^Vantle::msg_send_super: receiver is not a kind of class NSString/,
	'kind-of check');
    eval { Vantle::super->foo };
    like($@, qr/^Vantle::msg_send_super: invoked outside method/, 'no method context');
};

subtest 'receivers' => sub {
    is(Vantle::msg_send(undef, "length"), undef, 'nil receiver sends nothing');
    my $nil = Vantle::nil();
    is($nil->length, undef, 'a nil handle too');
    my $gone;
    {
	Vantle::TestSupport::push_pool();
	$gone = NSMutableArray->array;
	Vantle::TestSupport::pop_pool();
    }
    eval { Vantle::msg_send($gone, "count") };
    like($@, qr/^Vantle::msg_send: Dealloc'ed object/, 'a deallocated receiver');
    eval { $gone->count };
    like($@, qr/^Vantle::msg_send: Dealloc'ed object/, 'through the method route too');
};

subtest 'a message that frees its receiver' => sub {
    # In a child process: reading the freed receiver after the call
    # could crash.
    my $pid = fork() // die "fork: $!";
    if (!$pid) {
	my $o = NSObject->alloc->init;
	eval { $o->performSelector_("dealloc") };
	my $after = eval { $o->description; 1 } ? 'lived' : $@;
	POSIX::_exit($after =~ /^Vantle::msg_send: Dealloc'ed object/ ? 0 : 1);
    }
    waitpid($pid, 0);
    is($?, 0, 'the send returns, and the handle reads as deallocated afterwards');
};

subtest 'selector formation' => sub {
    my $a = NSMutableArray->array;
    $a->addObject_("x");
    my ($w, $value) = warnings_of { pl($a->objectAtIndex(0)) };
    is($value, "x", 'objectAtIndex with one argument sends objectAtIndex:');
    like($w->[0] // '', qr/^missing colon \(i\.e\., '_'\) at the end of selector name/,
	'and warns about the missing colon');
    {
	local $Vantle::CONTROL{perl_selector_map} = 1;
	my $d = NSMutableDictionary->dictionary;
	my ($w2) = warnings_of { $d->setObjectForKey("v", "k") };
	is(scalar @$w2, 0, 'no warning with the selector map');
	is(pl($d->objectForKey("k")), "v", 'setObjectForKey maps to setObject:forKey:');
    }
    my $class = NSObject->class;
    ok($class, 'class message without arguments');
};

subtest 'argument counts' => sub {
    my $a = NSMutableArray->array;
    my $d = NSMutableDictionary->dictionary;
    my $s = NSString->stringWithString_("four");
    my @cases = (
	[ sub { $a->addObject_("x", "y") }, 'addObject: takes 1 argument, 2 given', 'too many' ],
	[ sub { $a->addObject_() }, 'addObject: takes 1 argument, 0 given', 'too few' ],
	[ sub { $s->length(1) }, 'length takes 0 arguments, 1 given', 'none taken' ],
	[ sub { $d->setObject_forKey_("v") }, 'setObject:forKey: takes 2 arguments, 1 given',
	    'plural' ],
	[ sub { Vantle::msg_send($a, "addObject:", 1, 2) }, 'addObject: takes 1 argument, 2 given',
	    'msg_send' ],
	[ sub { Vantle::msg_send($a, "count", 1) }, 'count takes 0 arguments, 1 given',
	    'msg_send, none taken' ],
	[ sub { NSNumber->numberWithInt_(1, 2) }, 'numberWithInt: takes 1 argument, 2 given',
	    'class message' ],
	[ sub { $a->NSObject::description(1) }, 'description takes 0 arguments, 1 given',
	    'qualified message to super' ],
	[ sub { Vantle::msg_send_super($a, "NSObject", "isEqual:") },
	    'isEqual: takes 1 argument, 0 given', 'msg_send_super' ],
    );
    for my $case (@cases) {
	my ($code, $expected, $name) = @$case;
	my ($w, $error) = warnings_of { error_of($code) };
	is($error, $expected, $name);
	is(scalar @$w, 0, "$name: no warning") or diag(@$w);
    }
    is($a->count, 0, 'nothing was sent');
};

subtest 'argument lists and names longer than the C stack' => sub {
    # In a fresh perl with a stack of 1 MB, which an argument list of
    # 200000 (or a name of 2 MB) would overrun if the send kept it there.
    my $script = <<'PERL';
	$SIG{__WARN__} = sub {};
	my $many = [ (1) x 200_000 ];
	my $a = NSMutableArray->array;
	my $s = NSString->stringWithString_("x");
	sub line {
	    my ($code) = @_;
	    my $r = eval { $code->() };
	    print defined $r ? "$r\n" : $@ =~ s/ at .*/\n/sr =~ s/(x{1000,})/"x*" . length($1)/er;
	}
	line(sub { $a->addObject_(@$many) });
	line(sub { length(eval { $a->addObject(@$many) } // $@) });
	line(sub { NSString->stringWithFormat_("%d", @$many) });
	line(sub { NSString->stringWithFormat_("%d" x 1025, @$many) });
	line(sub { Vantle::pl(NSString->stringWithFormat_("%d" x 1024, @$many)) });
	my $long = "x" x 2_000_000;
	line(sub { $s->$long });
	line(sub { NSString->$long });
	print "done\n";
PERL
    open(my $from, '-|', 'sh', '-c', 'ulimit -s 1024 && exec "$@"', 'sh',
	$^X, (map { "-I$_" } @INC), '-MVantle', '-e', $script) or die "fork: $!";
    my @lines = <$from>;
    close $from;
    is($?, 0, 'the perl lived') or diag(@lines);
    chomp @lines;
    is($lines[0], 'addObject: takes 1 argument, 200000 given', 'a message with too many');
    like($lines[1], qr/^2000\d\d$/, 'the name completed with a colon for each');
    is($lines[2], '1', 'a format that reads fewer than it is given');
    is($lines[3], 'stringWithFormat: format "' . '%d' x 1025
	. '" reads 1025 values, more than the 1024 a call passes', 'a format that reads too many');
    is($lines[4], '1' x 1024, 'one that reads the most a call passes');
    like($lines[5], qr/^\w+ does not respond to -x\*2000000 /, 'a long name');
    is($lines[6], 'class NSString does not respond to x*2000000 (no method signature)',
	'a long class message name');
    is($lines[7], 'done', 'all sent');
};

subtest 'method names with a NUL byte are refused' => sub {
    my $s = NSString->stringWithString_("four");
    my $name = "length\0junk";
    is(error_of(sub { Vantle::msg_send($s, $name) }),
	'Vantle::msg_send: method name "length\\0junk" contains a NUL byte', 'msg_send');
    is(error_of(sub { Vantle::msg_send_super($s, "NSString", $name) }),
	'Vantle::msg_send_super: method name "length\\0junk" contains a NUL byte',
	'msg_send_super');
    is(error_of(sub { $s->$name }),
	'Vantle::msg_send: method name "length\\0junk" contains a NUL byte', 'a method call');
    is(error_of(sub { NSString->$name }),
	'Vantle::msg_send: method name "length\\0junk" contains a NUL byte', 'a class message');
    my $other = "uppercaseString\0";
    like(error_of(sub { $s->$other }), qr/contains a NUL byte$/, 'a NUL at the end');
    ok(!defined &Vantle::Object::uppercaseString, 'no sub is installed under the cut name');
    is(Vantle::pl($s->stringByAppendingString_("\0x")), "four\0x",
	'a NUL inside an argument is data');
};

subtest 'a send that dies while forming its selector leaves no name behind' => sub {
    # The routes hand the method name on to the send; a warning handler
    # that dies ends the send before it is done with that name.  The
    # entry points the routes use must not find it afterwards (it points
    # into freed memory: the valgrind run sees any read of it).
    my $s = NSString->stringWithString_("x");
    for my $case (
	[ 'a class message', sub { NSString->stringWithString("x") },
	  sub { Vantle::class_msg_send("NSString") } ],
	[ 'a message', sub { $s->isEqualToString("x") },
	  sub { Vantle::fast_msg_send($s) } ],
    ) {
	my ($name, $dying, $probe) = @$case;
	my $alone = error_of($probe);
	my $died = do {
	    local $SIG{__WARN__} = sub { die "warned: $_[0]" };
	    error_of($dying);
	};
	like($died, qr/^warned: missing colon/, "$name: the handler ended the send");
	is(error_of($probe), $alone, "$name: the entry point finds no name from it");
    }
};

subtest 'format methods take the values their directives read' => sub {
    is(pl(NSString->stringWithFormat_("n=%d", 5)), "n=5", 'a format and one value');
    for my $case (
	[ '%d|%i|%5d|%-5d|%+d|%05d', -42, 7, 3, 3, 3, 42 ],
	[ '%u %x %X %#o %#x', 4000000000, 255, 255, 8, 255 ],
	[ '%hd %hhd %ld %lld %qd %zd %lu', 70000, 300, -1, 2**40, -5, 12, 2**63 ],
	[ '%f %.2f %e %E %g %G %10.3f|', 3.14159, 2.5, 1234.5, 1234.5, 0.0001, 1e20, -1.5 ],
	[ '%c%c', 80, 108 ],
	[ '%s|%.3s|%8s|%-8s|', 'text', 'abcdef', 'right', 'left' ],
	[ '%*d|%-*.*f|%%', 5, 42, 8, 2, 3.14159 ],
    ) {
	my ($format, @values) = @$case;
	is(pl(NSString->stringWithFormat_($format, @values)), sprintf($format, @values),
	    "\"$format\" reads its values as Perl's sprintf does");
    }
    is(pl(NSString->stringWithFormat_("%@ and %@", "text", NSNumber->numberWithInt_(3))),
	"text and 3", '%@ takes Perl data and handles');
    is(pl(NSString->stringWithFormat_("%@%@%@%@%@%@%@%@", 1 .. 8)), "12345678",
	'eight %@ with eight values');
    is(pl(NSString->stringWithFormat_("\x{e9}t\x{e9} \x{1F600} %d", 5)), "\x{e9}t\x{e9} \x{1F600} 5",
	'text outside ASCII in the format');
    my $m = NSMutableString->stringWithString_("a");
    $m->appendFormat_("-%d", 1);
    is(pl($m->stringByAppendingFormat_("-%s", "b")), "a-1-b",
	'appendFormat: and stringByAppendingFormat:');
    my $made = NSString->alloc->initWithFormat_("%03d", 7);
    is(pl($made), "007", 'initWithFormat:');
    $made->release;
    is(error_of(sub { NSException->raise_format_("Overheated", "%d degrees", 451) }),
	'[NSException Overheated]: 451 degrees', 'raise:format:');
    Vantle::TestSupport::test_classes();
    is(pl(VantleTestSends->textWithCFormat_("%s=%d", "x", 1)), "x=1", 'a C string as the format');
    my ($w, $value) = warnings_of { pl(NSString->stringWithFormat("%d", 5)) };
    is($value, "5", 'a name without its trailing underscore takes the values too');
    like(message($w->[0] // ''), qr/^missing colon/, 'after the usual warning');
    my $date = NSCalendarDate->dateWithYear_month_day_hour_minute_second_timeZone_(
	2024, 2, 29, 12, 0, 0, undef);
    is(pl($date->descriptionWithCalendarFormat_("%Y-%m-%d")), "2024-02-29",
	'a calendar format is a value, not a format with a list');
};

subtest 'format methods refuse what they cannot pass' => sub {
    # In a child process: a send that read the values that were not
    # passed would crash.
    my $pid = fork() // die "fork: $!";
    if (!$pid) {
	my $error = error_of(sub { NSString->stringWithFormat_("%@%@%@%@%@%@%@%@") });
	POSIX::_exit(($error // '') eq
	    'stringWithFormat: format "%@%@%@%@%@%@%@%@" reads 8 values, 0 given' ? 0 : 1);
    }
    waitpid($pid, 0);
    is($?, 0, 'eight %@ without values');
    my @cases = (
	[ sub { NSString->stringWithFormat_("%d and %d", 1) },
	    'stringWithFormat: format "%d and %d" reads 2 values, 1 given' ],
	[ sub { NSString->stringWithFormat_("%y", 1) },
	    'stringWithFormat: unknown directive "%y" in format "%y"' ],
	[ sub { NSString->stringWithFormat_(undef, 1) }, 'stringWithFormat: the format is nil' ],
	[ sub { NSString->stringWithFormat_() },
	    'stringWithFormat: takes at least 1 argument, 0 given' ],
	[ sub { VantleTestSends->textWithCFormat_("%@", "x") },
	    'textWithCFormat: unknown directive "%@" in format "%@"' ],
    );
    is(error_of($_->[0]), $_->[1], $_->[1]) for @cases;
    like(error_of(sub { NSString->stringWithFormat_(NSNumber->numberWithInt_(5)) }),
	qr/^stringWithFormat: the format is not a string \(\w+\)$/, 'a number as the format');

    my ($w, $value) = warnings_of { pl(NSString->stringWithFormat_("%d.", 1, 2, 3)) };
    is($value, "1.", 'values beyond the directives are left out');
    is_deeply([ map { message($_) } @$w ], [ 'Redundant argument in stringWithFormat:' ],
	'with a warning');
    {
	no warnings 'redundant';
	($w) = warnings_of { NSString->stringWithFormat_("x", 1) };
	is(scalar @$w, 0, 'which no warnings "redundant" silences');
    }
};

subtest 'Perl names are left to Perl' => sub {
    my $a = NSMutableArray->array;
    eval { $a->Description };
    like($@, qr/does not respond to.*Description/, 'upper-case names reach AUTOLOAD and are sent as they are');
    eval { NoSuchClassAnywhere->alloc };
    like($@, qr/Can't locate object method "alloc" via package "NoSuchClassAnywhere"/,
	'a string naming no class is left to Perl');
    {
	package My::Pkg;
	sub new { bless {}, shift }
	sub length { 42 }
    }
    is(My::Pkg->new->length, 42, 'Perl packages are never taken over');
};

subtest 'a class made after the module booted' => sub {
    my ($pair) = Vantle::TestSupport::test_classes();
    my $object = VantleTestPair->new;
    is(pl($object->className), 'VantleTestPair', 'class messages reach it once a handle of it was made');
    $object->release;
};

subtest 'exceptions become Perl errors' => sub {
    my $a = NSArray->array;
    eval { $a->objectAtIndex_(5) };
    like($@, qr/^\[NSException NSRangeException\]: /, 'a Foundation exception');
    is(NSArray->arrayWithObject_("still")->count, 1, 'the process is healthy afterwards');
    eval { $a->noSuchMethodAtAll };
    like($@, qr/does not respond to -noSuchMethodAtAll/, 'an unknown selector');
};

subtest 'structures and pointers through Foundation methods' => sub {
    my $s = NSString->stringWithString_("hello, world");
    my $range = $s->rangeOfString_("world");
    is_deeply([ @$range{qw(location length)} ], [ 7, 5 ], 'a structure result becomes a hash');
    is(pl($s->substringWithRange_({ _0 => 0, _1 => 5 })), "hello", 'a hash becomes a structure argument');
    my $buffer = Vantle::Ptr::malloc(Vantle::Ptr::new('unsigned short *'));
    $s->getCharacters_range_($buffer, { _0 => 1, _1 => 1 });
    is($buffer->FETCH, ord("e"), 'a typed pointer argument is written through');
    Vantle::Ptr::free($buffer);
    is(NSString->stringWithUTF8String_("h\xc3\xa9")->length, 2,
	'a char * argument receives the bytes as Perl holds them');
};

subtest 'a variadic method given its first argument only' => sub {
    # The list such a method reads ends after the arguments Perl gave.
    my $array = NSArray->arrayWithObjects_("only");
    is($array->count, 1, 'a nil-terminated list of one');
    is_deeply([Vantle::pl($array)], ['only'], 'holding the argument');
};

subtest 'C bool arguments and results' => sub {
    my $sends = (Vantle::TestSupport::test_classes())[4];
    is($sends->negate_(1), 0, 'true in, false out');
    is($sends->negate_(0), 1, 'false in, true out');
    is(VantleTestSends->negate_(""), 1, 'any Perl false is false');
    is(VantleTestSends->negate_("yes"), 0, 'any Perl true is true');
};

subtest 'a Perl error inside an argument conversion' => sub {
    package Exploding { sub TIESCALAR { bless {}, shift } sub FETCH { die "no value for you\n" } }
    tie my $bomb, 'Exploding';
    my $a = NSMutableArray->array;
    eval { $a->addObject_($bomb) };
    like($@, qr/no value for you/, 'the Perl error reaches the caller');
    $a->addObject_("fine");
    is($a->count, 1, 'and the next send works, the failed one added nothing');

    # A structure whose string was copied before a later member's FETCH
    # died: the copy is freed on the way out (the valgrind and sanitizer
    # runs see it), and the same structure converts once the member lives.
    Vantle::TestSupport::test_classes();
    my %label = (_0 => 'copied first');
    tie $label{_1}, 'Exploding';
    eval { VantleTestLabels->lengthOfLabel_(\%label) } for 1 .. 3;
    like($@, qr/no value for you/, 'a dying member of a structure argument');
    untie $label{_1};
    $label{_1} = 2;
    is(VantleTestLabels->lengthOfLabel_(\%label), 24, 'the structure converts afterwards');
};

subtest 'sends in a loop with pools drained keep memory flat' => sub {
    # Under AddressSanitizer or valgrind freed memory waits in a
    # quarantine, so the process grows whatever we free; their leak
    # checks cover those runs.
    open(my $maps, '<', '/proc/self/maps') or die "cannot read /proc/self/maps: $!";
    plan(skip_all => 'freed memory is held back by AddressSanitizer or valgrind')
	if grep { /libclang_rt\.asan|vgpreload_memcheck/ } <$maps>;
    my $rss = sub {
	open(my $status, '<', "/proc/self/status") or return 0;
	my ($kb) = map { /^VmRSS:\s+(\d+)/ ? $1 : () } <$status>;
	return $kb // 0;
    };
    my $round = sub {
	my $pool = NSAutoreleasePool->new;
	my $d = NSMutableDictionary->dictionary;
	for my $i (1 .. 2000) {
	    $d->setObject_forKey_("value $i", "key");
	    my $v = $d->objectForKey_("key");
	}
	$pool->release;
    };
    $round->() for 1 .. 3;
    my $before = $rss->();
    $round->() for 1 .. 20;
    my $after = $rss->();
    cmp_ok($after - $before, '<', 2048, "40000 sends grew the process by less than 2 MB")
	or diag("grew from $before kB to $after kB");

    # A structure argument holding a string, then an argument whose FETCH
    # dies: the send never returns, and the string must go all the same.
    Vantle::TestSupport::test_classes();
    package DiesOnFetch { sub TIESCALAR { bless {}, shift } sub FETCH { die "no\n" } }
    tie my $dies, 'DiesOnFetch';
    my $label = { _0 => 'a label of some length, copied for the call', _1 => 1 };
    my $failing = sub { eval { VantleTestLabels->lengthOfLabel_orRaise_($label, $dies) } for 1 .. 5000 };
    $failing->();
    $before = $rss->();
    $failing->() for 1 .. 10;
    $after = $rss->();
    cmp_ok($after - $before, '<', 1024, "50000 sends cut short by a Perl error kept memory flat")
	or diag("grew from $before kB to $after kB");
};

subtest 'trace' => sub {
    my $file = "/tmp/vantle-trace-$$.txt";
    open(my $saved, '>&', \*STDOUT) or die;
    open(STDOUT, '>', $file) or die;
    {
	local $Vantle::CONTROL{message_trace} = 1;
	NSString->stringWithUTF8String_("abc")->length;
    }
    open(STDOUT, '>&', $saved) or die;
    open(my $in, '<', $file) or die;
    local $/;
    my $trace = <$in>;
    unlink $file;
    like($trace, qr/ \[NSString stringWithUTF8String: abc\]  --> \(0\) /, 'class message traced');
    like($trace, qr/ \[\@\w+@[0-9a-f]+ length\]  --> \(0\) 3\n/, 'instance message traced');
};

# Last: the rename changes the test class for the rest of the process.
subtest 'a class renamed at run time is still found' => sub {
    Vantle::TestSupport::test_classes();
    VantleTestPair->new->release for 1 .. 2;	# the send keeps the class it found
    Vantle::TestSupport::rename_class('VantleTestPair', 'VantleTestPairRenamed');
    my $object = VantleTestPair->new;
    is(pl($object->className), 'VantleTestPairRenamed', 'the old name sends to the renamed class');
    is(${ Vantle::class('VantleTestPairRenamed') }, ${ Vantle::class('VantleTestPair') },
       'which the new name finds as well');
    $object->release;
};

done_testing;
