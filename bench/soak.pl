#!/usr/bin/perl
# Soak test: for a given time, mixes every kind of work the module does
# (sends, conversions, structures by value, dead handles, exceptions,
# Perl errors inside Perl code the bridge runs, typed pointers, instance
# variables, tied views, typed streams, classes defined in Perl, retaining
# containers, Perl objects as runtime objects) with autorelease pools drained
# after every round, and checks that the resident memory stays flat.
#
#   perl -Mblib=build bench/soak.pl [options] [seconds]
#
#   seconds          how long to soak after the warm-up (default 180)
#   --warmup=S       seconds of warm-up before the first measurement
#                    (default: a tenth of the soak, between 3 and 20)
#   --threshold=KB   the largest resident growth accepted (default 4096)
#   --only=K1,K2     run only these kinds of work (to find a leak)
#   --each           run every kind (or those of --only) alone, each in a
#                    fresh perl for the given seconds, one line per kind
#   --list           print the kinds and exit
#
# Every operation checks its result; a wrong value is a failure, counted
# per kind and reported.  The exit status is 0 only when nothing failed
# and the memory grew by no more than the threshold.
#
# Why 4 MB: after the warm-up every cache (selectors, call plans, installed
# method subs, class packages) is full and Perl's and malloc's arenas have
# reached their working size; what still moves is malloc's free lists and
# Perl's arenas, a few hundred kB either way.  A full soak performs
# millions of operations, so even a leak of one or two bytes per operation
# crosses 4 MB; the report prints the smallest per-operation leak the run
# could have caught.
use strict;
use warnings;
use Getopt::Long qw(GetOptions);
use Time::HiRes qw(time);
use File::Temp qw(tempdir);
use FindBin ();

use Vantle;
use Vantle::TestSupport;
use Vantle::TypedStream;
# The web layer: its converters are the ones every conversion below uses.
use Dravik;

my %option = (threshold => 4096);
GetOptions(\%option, 'warmup=f', 'threshold=i', 'only=s', 'each', 'list')
    or die "usage: $0 [--warmup=S] [--threshold=KB] [--only=K1,K2] [--each] [--list] [seconds]\n";
my $seconds = shift // 180;
die "$0: seconds must be a positive number\n" unless $seconds =~ /^\d+(?:\.\d+)?$/ && $seconds > 0;
my $warmup = $option{warmup} // do { my $w = $seconds / 10; $w < 3 ? 3 : $w > 20 ? 20 : $w };

# Objects the work below needs, made once.
my ($pairClass, $ivarsClass, $keyedClass, $labelsClass) = Vantle::TestSupport::test_classes();
my $streamDir = tempdir(CLEANUP => 1);
my $errorCode = Vantle::Ptr::malloc(Vantle::Ptr::new('int *'));
my $compiledSub = $Vantle::interp->compile_errorCode_(
    'die "odd $_[0]\n" if $_[0] % 2; $_[0] * 3', $errorCode);
die "$0: cannot compile the callback sub\n" if $errorCode->FETCH;

# Counts per kind: checked operations and failures.
my (%done, %failed, $kind);

# Records one operation's check under the running kind; a failure is
# counted and its first few are described.
sub check {
    my ($ok, $what) = @_;
    $done{$kind}++;
    return 1 if $ok;
    $failed{$kind}++;
    warn "FAIL [$kind] $what\n" if $failed{$kind} <= 5;
    return 0;
}

# Runs code that must die; checks that its error matches the pattern.
sub dies_like {
    my ($code, $pattern, $what) = @_;
    my $lived = eval { $code->(); 1 };
    my $error = $@;
    return check(!$lived && $error =~ $pattern,
	"$what: " . ($lived ? 'lived' : "died with: $error"));
}

# Deep comparison of Perl data: strings by text, handles by identity.
sub same {
    my ($x, $y) = @_;
    return !defined $y if !defined $x;
    return 0 if !defined $y || ref($x) ne ref($y);
    if (ref($x) eq 'ARRAY') {
	return 0 unless @$x == @$y;
	for my $i (0 .. $#$x) {
	    return 0 unless same($x->[$i], $y->[$i]);
	}
	return 1;
    }
    if (ref($x) eq 'HASH') {
	return 0 unless keys %$x == keys %$y;
	for my $key (keys %$x) {
	    return 0 unless exists $y->{$key} && same($x->{$key}, $y->{$key});
	}
	return 1;
    }
    return ref($x) ? $x == $y : $x eq $y;
}

sub stream { my $name = shift; no strict 'refs'; &{"Vantle::TypedStream::$name"}(@_) }

package Soak::Exploding {
    sub TIESCALAR { my ($class, $text) = @_; bless \$text, $class }
    sub FETCH { my $self = shift; die $$self }
}

# ---------------------------------------------------------------------
# The kinds of work.  Each takes a round counter (to vary its values) and
# checks everything it does.  Objects from alloc/new are released here;
# everything else is autoreleased into the round's pool.
# ---------------------------------------------------------------------

# Class and instance messages with arguments and results of every scalar
# kind: C strings, objects, BOOL, unichar, int, long long, float, double.
sub work_send {
    my ($i) = @_;
    my $text = "soak $i";
    my $s = NSString->stringWithUTF8String_($text);
    check($s->length == length($text), 'length of a new string');
    check($s->uppercaseString eq uc($text), 'uppercaseString');
    check($s->hasPrefix_('soak'), 'hasPrefix: answers YES');
    check(!$s->hasSuffix_('nope'), 'hasSuffix: answers NO');
    check($s->characterAtIndex_(1) == ord('o'), 'characterAtIndex: (unichar)');
    check(NSString->stringWithString_($s)->isEqualToString_($s), 'a copy is equal');
    check(NSNumber->numberWithDouble_($i + 0.25)->doubleValue == $i + 0.25, 'double both ways');
    check(NSNumber->numberWithFloat_(1.5)->floatValue == 1.5, 'float both ways');
    my $big = -(1 << 40) - $i;
    check(NSNumber->numberWithLongLong_($big)->longLongValue == $big, 'long long both ways');
    check(NSNumber->numberWithInt_(-$i)->intValue == -$i, 'int both ways');
    my $d = NSMutableDictionary->dictionary;
    $d->setObject_forKey_("value $i", 'key');
    check(Vantle::pl($d->objectForKey_('key')) eq "value $i", 'dictionary set and get');
    my $a = NSMutableArray->arrayWithCapacity_(4);
    my $n = NSNumber->numberWithInt_($i);
    $a->addObject_($n);
    check($a->objectAtIndex_(0) == $n, 'an object comes back as the same handle');
    Vantle::msg_send($a, 'removeAllObjects');
    check(Vantle::msg_send($a, 'count') == 0, 'msg_send with a literal selector');
    check($a->NSObject::description =~ /^<\w+Array: 0x[0-9a-f]+>$/, 'a send to super');
    my $o = NSObject->alloc->init;
    check($o->isKindOfClass_(NSObject->class), 'alloc, init and a class argument');
    $o->release;
}

# Structures by value, as arguments and results: NSRange through
# Foundation, and structures holding C strings (one with an array of
# them and a nested structure) through VantleTestLabels, including a
# send that raises after its arguments were converted and one whose
# structure fails to convert half-way.
sub work_struct {
    my ($i) = @_;
    my $s = NSString->stringWithUTF8String_("hello, soak world $i");
    my $range = $s->rangeOfString_('soak');
    check($range->{location} == 7 && $range->{length} == 4, 'NSRange result');
    check($s->substringWithRange_({ _0 => 7, _1 => 4 }) eq 'soak', 'NSRange argument');
    my $value = NSValue->valueWithRange_({ _0 => $i, _1 => 3 });
    my $back = $value->rangeValue;
    check($back->{location} == $i && $back->{length} == 3, 'NSRange through NSValue');
    my $text = 'x' x ($i % 40 + 1);
    check(VantleTestLabels->lengthOfLabel_({ _0 => $text, _1 => 3 }) == 3 * length($text),
	'a structure with a char * argument');
    check(VantleTestLabels->lengthOfLabel_({ _0 => undef, _1 => 3 }) == -1,
	'a structure with a null char *');
    check(VantleTestLabels->lengthOfLabel_orRaise_({ _0 => $text, _1 => 2 }, 0)
	== 2 * length($text), 'a structure and a BOOL');
    dies_like(sub { VantleTestLabels->lengthOfLabel_orRaise_({ _0 => "raise $text", _1 => 1 }, 1) },
	qr/^\[NSException NSInvalidArgumentException\]: asked to/, 'a raising send with a string structure');
    my $names = { _0 => ["first $i", 'second'], _1 => { _0 => 'label', _1 => $i % 7 } };
    check(VantleTestLabels->describeNames_($names) eq "first $i,second,label*" . ($i % 7),
	'strings in an array and a nested structure');
    dies_like(sub { VantleTestLabels->describeNames_({ _0 => ["a $i", "b $i"], _1 => 5 }) },
	qr/not a hash reference/, 'a structure failing after its strings were copied');
    my $label = VantleTestLabels->labelWithRepeat_($i % 100);
    check($label->{_0} eq 'label' && $label->{_1} == $i % 100, 'a structure result with a char *');
    my $buffer = Vantle::Ptr::malloc(Vantle::Ptr::new('unsigned short *'));
    $s->getCharacters_range_($buffer, { _0 => 1, _1 => 1 });
    check($buffer->FETCH == ord('e'), 'a typed pointer and a range');
    Vantle::Ptr::free($buffer);
}

# Perl data to Foundation objects and back, nested, with text beyond
# Latin-1, 64-bit numbers, undef and handles inside; handles under Perl's
# operators; and the conversion errors.
sub work_convert {
    my ($i) = @_;
    my $data = {
	text    => "plain $i",
	unicode => "snow \x{2603} caf\x{e9} $i",
	list    => [1, -2, 2.5, 'two', undef, [3, [4, { deep => "er $i" }]]],
	empty   => [],
	none    => {},
	big     => 2**40 + $i,
	"key \x{43a}" => 'value',
    };
    my $handle = Vantle::obj($data);
    check(ref($handle) eq 'Vantle::Object', 'Vantle::obj answers a handle');
    check(same(scalar Vantle::pl($handle), $data), 'nested data round-trips');
    my $array = NSMutableArray->array;
    $array->addObject_(NSNumber->numberWithInt_($i));
    $array->addObject_(Vantle::obj({ k => [1, "two $i"] }));
    $array->addObject_(NSString->stringWithUTF8String_("s $i"));
    check(same([Vantle::pl($array)], [$i, { k => [1, "two $i"] }, "s $i"]),
	'a container built by messages converts to Perl');
    my $number = NSNumber->numberWithInt_($i);
    check(0 + $number == $i && "$number" eq "$i", 'a number object in numeric and string form');
    check(Vantle::obj(["e $i"]) eq Vantle::obj(["e $i"]), 'eq compares objects with isEqual:');
    my $class = Vantle::pl('NSObject');
    my $mixed = Vantle::pl(Vantle::obj([$class, { c => $class }]));
    check($mixed->[0] == $class && $mixed->[1]{c} == $class, 'handles inside data pass through');
    # The web layer's converters keep what they cannot convert as a Perl
    # value (a BqPerlVar) instead of failing.
    my $perlVar = Vantle::class('BqPerlVar');
    check(Vantle::obj([1, { code => sub { 1 } }])->objectAtIndex_(1)->objectForKey_('code')
	    ->isKindOfClass_($perlVar), 'a code reference inside data stays a Perl value');
    my @self = (1);
    push @self, \@self;
    check(Vantle::obj(\@self)->count == 2, 'a self-referencing array converts as deep as it may');
    @self = ();
}

# Handles of objects that die while Perl holds them: drained by a pool,
# or released by a message.  Every use afterwards is a clear error.
sub work_stale {
    my ($i) = @_;
    Vantle::TestSupport::push_pool();
    my $h = Vantle::obj([1, 2, $i]);
    my $copy = Vantle::obj($h);
    my $dict = Vantle::obj({ k => $i });
    Vantle::TestSupport::pop_pool();
    check($$h == -1 && $$copy == -1, 'every handle of a drained object reads -1');
    check(Vantle::object_is_bad($h) eq "Dealloc'ed object", 'object_is_bad names the reason');
    dies_like(sub { $h->count }, qr/^Vantle::msg_send: Dealloc'ed object/, 'a send to it');
    dies_like(sub { Vantle::obj($copy) }, qr/^Vantle::obj: Dealloc'ed object/, 'converting it');
    dies_like(sub { my $x = $dict->{k} }, qr/^Vantle::Object::FETCH: Dealloc'ed object/,
	'its tied view');
    check("$h" eq "<BAD OBJECT: Dealloc'ed object>", 'it prints as bad');
    my $o = NSObject->alloc->init;
    $o->release;
    dies_like(sub { $o->description }, qr/^Vantle::msg_send: Dealloc'ed object/,
	'a send after release');
    my $fresh = NSMutableArray->array;
    check($fresh->count == 0 && $$fresh != -1, 'a new object gets a live handle');
}

# Objective-C exceptions caught by Perl's eval.
sub work_exception {
    my ($i) = @_;
    dies_like(sub { NSArray->array->objectAtIndex_($i % 10 + 1) },
	qr/^\[NSException NSRangeException\]: /, 'an index beyond the end');
    dies_like(sub { NSMutableArray->array->noSuchMethodAtAll },
	qr/does not respond to -noSuchMethodAtAll/, 'an unknown selector');
    my $exception = NSException->exceptionWithName_reason_userInfo_('SoakError', "round $i", undef);
    dies_like(sub { $exception->raise }, qr/^\[NSException SoakError\]: round $i/,
	'an exception made and raised from Perl');
    dies_like(sub { NSMutableDictionary->dictionary->setObject_forKey_(undef, 'k') },
	qr/^\[NSException NSInvalidArgumentException\]: /, 'a nil value for a dictionary');
    check(NSArray->arrayWithObject_("after $i")->count == 1, 'the next send works');
}

# Classes defined in Perl: instances made and freed with their Perl data,
# methods called by Foundation (hash, isEqual:, compare:, description),
# super, and errors crossing both ways.
package SoakTally {
    use Vantle::Class 'SoakTally', ivars => ['int n'];
    sub initWithN_ : Method('id initWithN: (int) n') {
        my $self = Vantle::super->init;
        $self->{n} = $_[1];
        $self->perl_data->{history} = [map { "n$_" } 1 .. 4];
        return $self;
    }
    sub hash : Method { $_[0]->{n} }
    sub isEqual_ : Method { $_[0]->{n} == $_[1]->{n} }
    sub compare_ : Method {
        NSArray->array->objectAtIndex_(1) if $_[0]->{n} == -2;
        die "refused $_[0]->{n}\n" if $_[0]->{n} < 0;
        $_[0]->{n} <=> $_[1]->{n}
    }
    sub description : Method { 'tally ' . Vantle::super->description =~ tr/<//dr }
}

sub work_perlclass {
    my ($i) = @_;
    my @tallies = map { SoakTally->alloc->initWithN_(($i + $_) % 5)->autorelease } 1 .. 6;
    my $set = NSMutableSet->set;
    $set->addObject_($_) for @tallies;
    check($set->count == 5, 'isEqual: and hash from Foundation');
    my $array = NSMutableArray->array;
    $array->addObject_($_) for @tallies;
    my $sorted = $array->sortedArrayUsingSelector_('compare:');
    check($sorted->objectAtIndex_(0)->{n} == 0, 'compare: from Foundation');
    check($tallies[0]->description =~ /^tally SoakTally: ?0x/, 'super from a Perl method');
    $tallies[0]->{n} = -1;
    dies_like(sub { $array->sortedArrayUsingSelector_('compare:') },
	qr/Perl Error\]: -\[SoakTally compare:\]: refused -1/, 'a Perl die from Foundation');
    $tallies[0]->{n} = -2;
    dies_like(sub { $array->sortedArrayUsingSelector_('compare:') },
	qr/^\[NSException NSRangeException\]/, 'an exception through a Perl method');
}

# Retaining containers: objects stored, overwritten, deleted and dropped
# with the container, two hashes walked interleaved, "selfObject" kept
# without a retain.
sub work_magic {
    my ($i) = @_;
    my $object = NSObject->new;
    {
	my $pool = Vantle::autorelease_pool;	# what is let go is autoreleased
	tie my %first, 'Dravik::Magic';
	tie my %second, 'Dravik::Magic';
	tie my @list, 'Dravik::Magic';
	$first{$_} = $object for qw(a b c);
	$second{$_} = "text $i $_" for qw(x y z);
	$first{selfObject} = $object;
	push @list, $object, $object;
	check($object->retainCount == 6, 'stored handles retain their object');
	my $walked = 0;
	while (my ($key) = each %first) {
	    my ($other) = each %second;
	    $walked++ if defined $other;
	}
	check($walked == 3, 'interleaved walks');
	delete $first{a};
	$first{b} = 'replaced';
	untie %first;
	untie @list;
    }
    check($object->retainCount == 1, 'what left the containers was let go');
    $object->release;
}

# Perl objects as runtime objects: a BqPerlObject's hash, package
# variables and methods, failing and succeeding.
package SoakCounter {
    our $total = 0;
    sub bump { my ($self, $by) = @_; $total += $by; $self->{count} += $by }
    sub fail { die "soak counter failed\n" }
}

sub work_perlobject {
    my ($i) = @_;
    my $object = NSObject->new;
    {
	my $pool = Vantle::autorelease_pool;	# what is let go is autoreleased
	my $counter = BqPerlObject->alloc->initInInterp_stashName_magic_($Vantle::interp,
	    'SoakCounter', $i % 2);
	$counter->setIVar_toValue_('count', 1);
	$counter->setIVar_toValue_('thing', $object);
	check($counter->invokeMethod_withArgs_classMethod_listContext_('bump', [2], 0, 0) == 3,
	    'a method through invokeMethod');
	dies_like(sub { $counter->invokeMethod_withArgs_classMethod_listContext_('fail', [], 0, 0) },
	    qr/Perl Error\]: soak counter failed/, 'a dying method');
	check($counter->getCVarValue_('total') > 0, 'a package variable');
	$counter->release;
    }
    check($object->retainCount == 1, 'the object let go of what it kept');
    $object->release;
}

# The example web application answering requests: sessions come and go
# (the store keeps at most 20), each adds an item through the form and
# takes it out with an action inside the list; a path of no component is
# a 404.
my $todoApp = BqDravikApplication->alloc->initWithRoot_("$FindBin::Bin/../examples/todo");
$todoApp->setSessionStore_(
    RySessionStore->alloc->initWithIdleTimeout_limit_(600, 20)->autorelease);
my ($todoSession, $todoPage);

sub todo_request {
    my ($method, $uri, $form) = @_;
    my $pool = Vantle::autorelease_pool;
    my $response = $todoApp->handleRequest_(RyRequest->requestWithMethod_URI_formValues_cookies_(
        $method, $uri, $form, $todoSession ? { ry_session => $todoSession } : undef));
    # Copies, not handles: the strings go with the pool.
    $todoSession = Vantle::pl($response->sessionId);
    $todoPage = Vantle::pl($response->content);
    return $response->status;
}

sub work_webapp {
    my ($i) = @_;
    undef $todoSession if $i % 5 == 0;
    check(todo_request(GET => '/') == 200, 'the list');
    my ($action) = $todoPage =~ m{<form method="post" action="([^"]+)"};
    my ($field) = $todoPage =~ m{<input type="text" name="([^"]+)"};
    my ($button) = $todoPage =~ m{<input type="submit" name="([^"]+)"};
    $action =~ s/&amp;/&/g;
    check(todo_request(POST => $action, { $field => "item $i", $button => 'Add' }) == 200
        && $todoPage =~ /item \Q$i\E/, 'an item added through the form');
    my ($remove) = $todoPage =~ m{<a href="([^"]+)">remove</a>};
    $remove =~ s/&amp;/&/g;
    check(todo_request(GET => $remove) == 200 && $todoPage !~ /item \Q$i\E</, 'removed by its action');
    check(todo_request(GET => '/Nothing') == 404, 'no such component');
}

# Perl code the bridge runs, dying: a tied argument whose FETCH dies
# during a send and during a conversion; Perl text and a compiled sub run
# by the interpreter object from a message, failing and succeeding.
sub work_callback {
    my ($i) = @_;
    tie my $bomb, 'Soak::Exploding', "no value $i\n";
    my $a = NSMutableArray->array;
    dies_like(sub { $a->addObject_($bomb) }, qr/^no value $i$/, 'a dying FETCH in a send');
    check($a->count == 0, 'which added nothing');
    dies_like(sub { Vantle::obj([1, [2, { k => $bomb }]]) }, qr/^no value $i$/,
	'a dying FETCH deep in a conversion');
    dies_like(sub { VantleTestLabels->lengthOfLabel_({ _0 => "text $i", _1 => $bomb }) },
	qr/^no value $i$/, 'a dying FETCH inside a structure argument');

    my $interp = $Vantle::interp;
    my $result = $interp->eval_errorCode_("die qq{soak $i\\n}", $errorCode);
    check($errorCode->FETCH == 1 && $result->stringValue eq "soak $i\n",
	'a Perl error inside eval:errorCode:');
    $result->free;
    $result = $interp->eval_errorCode_("NSNumber->numberWithInt_($i)->intValue * 2", $errorCode);
    check($errorCode->FETCH == 0 && $result->intValue == 2 * $i, 'Perl text sending a message');
    $result->free;
    dies_like(sub { $interp->mortalEval_("die qq{mortal $i\\n}") },
	qr/^\[NSException Perl Error\]: mortalEval:: mortal $i/, 'a Perl error raised as an exception');

    my $args = BqVantleAV->alloc->init;
    my $argument = BqVantleSV->alloc->init;
    $argument->setIntValue_($i);
    $args->push_($argument);
    $argument->free;
    $result = $interp->call_args_errorCode_listContext_($compiledSub, $args, $errorCode, 0);
    if ($i % 2) {
	check($errorCode->FETCH == 1 && $result->stringValue eq "odd $i\n", 'a compiled sub dying');
    } else {
	check($errorCode->FETCH == 0 && $result->intValue == 3 * $i, 'a compiled sub answering');
    }
    $result->free;
    $args->free;
}

# Typed pointers: storage of scalars, of a structure holding a C string,
# and of a pointer; written and read back.
sub work_pointer {
    my ($i) = @_;
    my $int = Vantle::Ptr::malloc(Vantle::Ptr::new('int *'));
    $int->STORE(-$i);
    check($int->FETCH == -$i, 'an int through a pointer');
    my $alias = Vantle::Ptr::new('int *', Vantle::Ptr::value($int));
    check($alias->FETCH == -$i, 'through another pointer to it');
    my $double = Vantle::Ptr::malloc(Vantle::Ptr::new('double *'));
    $double->STORE($i / 4);
    check($double->FETCH == $i / 4, 'a double through a pointer');
    my $record = Vantle::Ptr::malloc(Vantle::Ptr::new('struct rec { int n; char *name; double d; } *'));
    $record->STORE({ n => $i, name => "name $i", d => 0.5 });
    my $read = $record->FETCH;
    check($read->{n} == $i && $read->{name} eq "name $i" && $read->{d} == 0.5,
	'a structure with a string through a pointer');
    $record->STORE({ n => 0, name => undef, d => 0 });	# releases the string's copy
    my $cell = Vantle::Ptr::malloc(Vantle::Ptr::new('double * *'));
    $cell->STORE($double);
    check($cell->FETCH->FETCH == $i / 4, 'a pointer to a pointer');
    my $chars = Vantle::Ptr::malloc(Vantle::Ptr::new('char * *'));
    $chars->STORE("chars $i");
    check($chars->FETCH eq "chars $i", 'a C string through a pointer');
    $chars->STORE(undef);
    Vantle::Ptr::free($_) for $int, $double, $record, $cell, $chars;
    check(Vantle::Ptr::value($int) == 0, 'freed pointers are null');
}

# Instance variables of every kind, by name, through the hash view and
# through a linked scalar.
sub work_ivar {
    my ($i) = @_;
    my $o = VantleTestIvars->new;
    my %values = (
	ch => -5, uch => 200, sh => -300, ush => 60000, in => -70000 - $i,
	uin => 4000000000, lo => -(1 << 40), ulo => 1 << 41, qu => -(1 << 50) - $i,
	uqu => 1 << 52, fl => 1.5, db => $i + 0.25, str => "bytes $i", sel => 'count',
    );
    $o->{$_} = $values{$_} for keys %values;
    for my $name (sort keys %values) {
	check($o->{$name} eq $values{$name}, "ivar $name");
    }
    $o->{cls} = 'NSString';
    check($o->{cls} == NSString->class, 'a class variable');
    my $array = Vantle::obj([$i]);
    $o->{obj} = $array;
    check($o->{obj} == $array, 'an object variable');
    $o->{pt} = { _0 => $i, _1 => 4.5 };
    check($o->{pt}{_0} == $i && $o->{pt}{_1} == 4.5, 'a structure variable');
    $o->{arr} = [$i, 8, 9];
    check(same($o->{arr}, [$i, 8, 9]), 'an array variable');
    $o->{str} = "again $i";
    check(Vantle::ivar_get($o, 'str') eq "again $i", 'a string variable replaced');
    $o->{str} = undef;
    check(!defined $o->{str}, 'and set to null');
    Vantle::ivar(my $linked, $o, 'in');
    $linked = $i;
    check($o->{in} == $i, 'a linked scalar writes');
    Vantle::ivar_set($o, 'in', -$i);
    check($linked == -$i, 'and reads');
    dies_like(sub { my $x = $o->{nosuch} }, qr/^Vantle::Object::FETCH: no ivar "nosuch"/,
	'a missing variable');
    $o->release;
    my $pair = VantleTestPair->new;
    $pair->{a} = $i;
    check(Vantle::ivar_get($pair, 'a') == $i, 'a second class');
    $pair->release;
}

# What handles show as hashes and arrays: array, dictionary and
# key-value views, with their errors.
sub work_tied {
    my ($i) = @_;
    my $a = Vantle::obj(['zero', 'one']);
    $a->[2] = "two $i";
    check($a->count == 3 && $a->[2] eq "two $i", 'storing at the count appends');
    $a->[0] = 'nought';
    check($a->[0] eq 'nought', 'storing below it replaces');
    dies_like(sub { my $x = $a->[9] }, qr/^Vantle::Object::FETCH: NSRangeException: /,
	'reading beyond the end');
    delete $a->{0};
    check(same([map { "$_" } values %$a], ['one', "two $i"]), 'delete and values');

    my $d = Vantle::obj({ map { ("k$_" => $_) } 1 .. 8 });
    $d->{extra} = $i;
    # Every dereference of a handle is a new tied hash, whose each would
    # start over: the enumeration holds one.
    my $view = \%$d;
    my $seen = 0;
    while (my ($key, $value) = each %$view) {
	last if ++$seen > 9;
    }
    check($seen == 9 && $d->{extra} == $i, 'a dictionary enumerated');
    delete $d->{k1};
    check(!exists $d->{k1} && exists $d->{k2}, 'delete and exists');
    my $immutable = NSDictionary->dictionaryWithDictionary_($d);
    dies_like(sub { $immutable->{x} = 1 },
	qr/^Vantle::Object::STORE: NSDictionary is not mutable/, 'an immutable dictionary');

    my $k = VantleTestKeyed->new;
    {
	local $Vantle::CONTROL{hash_perlify} = 1;
	$k->{b} = "bee $i";
	$k->{a} = 'ay';
	check($k->{b} eq "bee $i" && same([keys %$k], ['a', 'b']), 'a key-value view');
	dies_like(sub { $k->{bad} = 1 },
	    qr/^Vantle::Object::STORE: NSInvalidArgumentException: refused/, 'a raising setter');
    }
    $k->release;
}

# Typed streams: values and an object graph written to a file and read
# back by a stream limited to the classes it holds, and a second read
# stream dropped unclosed (its last value going closes it).
sub work_stream {
    my ($i) = @_;
    my $file = "$streamDir/soak.ts";
    my $ts = stream('KxOpenTypedStreamForFile', $file, 'w');
    stream('KxWriteType', $ts, 'i', $i);
    stream('KxWriteType', $ts, '*', "text $i");
    stream('KxWriteType', $ts, '{named="n"i"s"*}', { n => $i, s => "inside $i" });
    my $shared = Vantle::obj({ name => "shared $i" });
    stream('KxWriteRootObject', $ts, Vantle::obj([$shared, $shared, $i]));
    stream('KxCloseTypedStream', $ts);

    my $dropped = stream('KxOpenTypedStreamForFile', $file, 'r');
    check(stream('KxReadType', $dropped, 'i') == $i, 'an int from a stream left open');
    undef $dropped;

    $ts = stream('KxOpenTypedStreamForFile', $file, 'r');
    stream('KxSetTypedStreamAllowedClasses', $ts, [qw(NSMutableArray NSMutableDictionary NSString NSNumber)]);
    check(stream('KxReadType', $ts, 'i') == $i, 'an int from a stream');
    check(stream('KxReadType', $ts, '*') eq "text $i", 'a string from a stream');
    my $named = stream('KxReadType', $ts, '{named="n"i"s"*}');
    check($named->{n} == $i && $named->{s} eq "inside $i", 'a structure from a stream');
    my $graph = stream('KxReadObject', $ts);
    check($graph->count == 3 && $graph->[0] == $graph->[1] && $graph->[0]{name} eq "shared $i",
	'an object graph from a stream');
    stream('KxCloseTypedStream', $ts);
}

my @kinds = (
    [send => \&work_send], [struct => \&work_struct], [convert => \&work_convert],
    [stale => \&work_stale], [exception => \&work_exception], [callback => \&work_callback],
    [pointer => \&work_pointer], [ivar => \&work_ivar], [tied => \&work_tied],
    [stream => \&work_stream], [perlclass => \&work_perlclass], [magic => \&work_magic],
    [perlobject => \&work_perlobject], [webapp => \&work_webapp],
);

if ($option{list}) {
    print "$_->[0]\n" for @kinds;
    exit 0;
}
if (defined $option{only}) {
    my %wanted = map { $_ => 1 } split /,/, $option{only};
    my %known = map { $_->[0] => 1 } @kinds;
    my @unknown = grep { !$known{$_} } sort keys %wanted;
    die "$0: unknown kind(s) @unknown; --list names them\n" if @unknown;
    @kinds = grep { $wanted{$_->[0]} } @kinds;
}

# ---------------------------------------------------------------------
# The loop.
# ---------------------------------------------------------------------

# Resident memory in kB.
sub rss_kb {
    open(my $status, '<', '/proc/self/status') or die "$0: cannot read /proc/self/status: $!\n";
    while (<$status>) {
	return $1 if /^VmRSS:\s+(\d+)\s+kB/;
    }
    die "$0: no VmRSS in /proc/self/status\n";
}

my $REPEATS = 10;	# of every kind per round, inside one pool
my ($round, $pools) = (0, 0);

# One round: every kind $REPEATS times inside an autorelease pool, opened
# by a message or by the test support sub on alternate rounds, with an
# inner pool around half of the work.  An error no check expected counts
# as a failure of its kind.
sub run_round {
    $round++;
    my $byMessage = $round % 2;
    my $pool = $byMessage ? NSAutoreleasePool->new : undef;
    Vantle::TestSupport::push_pool() unless $byMessage;
    for my $entry (@kinds) {
	my ($name, $work) = @$entry;
	$kind = $name;
	my $inner = NSAutoreleasePool->new;
	for my $repeat (1 .. $REPEATS) {
	    if ($repeat == $REPEATS / 2) {
		$inner->release;
		$inner = NSAutoreleasePool->new;
		$pools++;
	    }
	    my $i = $round * $REPEATS + $repeat;
	    next if eval { $work->($i); 1 };
	    check(0, "unexpected error: $@");
	}
	$inner->release;
	$pools++;
    }
    $byMessage ? $pool->release : Vantle::TestSupport::pop_pool();
    $pools++;
}

sub run_for {
    my ($duration, $progress) = @_;
    my $start = time;
    my $next = $start + $duration / 10;
    while (time - $start < $duration) {
	run_round();
	if ($progress && time >= $next) {
	    printf "  %6.1f s  %10d operations  RSS %7d kB\n", time - $start, total(\%done), rss_kb();
	    $next += $duration / 10;
	}
    }
}

sub total { my ($counts) = @_; my $sum = 0; $sum += $_ for values %$counts; return $sum }

# Runs every kind alone in a fresh perl, one after the other, and prints
# each one's growth: the way to find which kind leaks.
sub run_each {
    my @blib = map { "-I$_" } grep { /blib/ } @INC;
    my $status = 0;
    printf "%-10s %10s %10s %10s %12s %s\n", 'kind', 'start kB', 'end kB', 'growth', 'operations',
	'result';
    for my $entry (@kinds) {
	my $name = $entry->[0];
	my @command = ($^X, @blib, $0, "--only=$name", "--threshold=$option{threshold}",
	    "--warmup=$warmup", $seconds);
	open(my $child, '-|', @command) or die "$0: cannot run @command: $!\n";
	my %line;
	while (<$child>) {
	    $line{$1} = $2 if /^(RSS start|RSS end|RSS growth|operations total|result):\s+(\S+)/;
	}
	close $child;
	$status ||= $? >> 8;
	printf "%-10s %10s %10s %10s %12s %s\n", $name, map { $line{$_} // '?' }
	    'RSS start', 'RSS end', 'RSS growth', 'operations total', 'result';
    }
    return $status ? 1 : 0;
}

# The summary: operations and failures per kind, the memory, and the
# verdict.  Answers the exit status.
sub report {
    my ($before, $after, $elapsed, $poolsDrained) = @_;
    my $growth = $after - $before;
    print "\n";
    printf "%-10s %12s %10s\n", 'kind', 'operations', 'failures';
    for my $entry (@kinds) {
	my $name = $entry->[0];
	printf "%-10s %12d %10d\n", $name, $done{$name} // 0, $failed{$name} // 0;
    }
    my $operations = total(\%done);
    my $failures = total(\%failed);
    printf "%-10s %12d %10d\n", 'total', $operations, $failures;
    printf "pools drained: %d, rounds: %d, %.0f operations/s\n", $poolsDrained, $round,
	$operations / ($elapsed || 1);
    print "\n";
    printf "RSS start:  %d kB\n", $before;
    printf "RSS end:    %d kB\n", $after;
    printf "RSS growth: %d kB (threshold %d kB)\n", $growth, $option{threshold};
    printf "operations total: %d\n", $operations;
    printf "smallest leak this run would catch: %.2f bytes per operation\n",
	$option{threshold} * 1024 / ($operations || 1);
    my $ok = $failures == 0 && $growth <= $option{threshold};
    print 'result: ', ($ok ? 'PASS' : 'FAIL'),
	($failures ? " ($failures failed checks)" : ''),
	($growth > $option{threshold} ? ' (memory grew)' : ''), "\n";
    return $ok ? 0 : 1;
}

# Warm-up, first measurement, soak, second measurement.  Failures in the
# warm-up count; its operations do not.
sub soak {
    $| = 1;
    print 'soak: ', join(' ', map { $_->[0] } @kinds), "\n";
    print "warm-up: $warmup s\n";
    run_for($warmup, 0);
    %done = ();
    my $poolsBefore = $pools;
    my $before = rss_kb();
    print "soaking for $seconds s\n";
    my $start = time;
    run_for($seconds, 1);
    my $elapsed = time - $start;
    return report($before, rss_kb(), $elapsed, $pools - $poolsBefore);
}

exit($option{each} ? run_each() : soak());
