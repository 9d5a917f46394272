# Perl data to Foundation objects and back: Vantle::obj and Vantle::pl.
use strict;
use warnings;
use utf8;
use Test::More;
use B ();
use Scalar::Util qw(refaddr);
use FindBin;

use lib "$FindBin::Bin/lib";
use ErrorCapture qw(error_of);

use Vantle;

binmode Test::More->builder->$_, ':encoding(UTF-8)' for qw(output failure_output todo_output);

sub round_trip { scalar Vantle::pl(scalar Vantle::obj($_[0])) }

# An array nested $depth deep around $leaf.
sub nested {
    my ($depth, $leaf) = @_;
    my $value = $leaf;
    $value = [$value] for 1 .. $depth;
    return $value;
}

sub has_string_value { B::svref_2object(\$_[0])->FLAGS & B::SVp_POK }

subtest 'nested data round-trips' => sub {
    my $data = {
        text    => 'plain',
        unicode => "snow ☃ and café",
        list    => [1, -2, 2.5, 'two', undef, [3, [4]], { deep => { er => 'x' } }],
        empty   => [],
        none    => {},
        'ключ'  => 'значение',
    };
    is_deeply(round_trip($data), $data, 'structure, text and numbers survive');
    my $handle = Vantle::obj($data);
    is(ref($handle), 'Vantle::Object', 'scalar context gives a handle');
    is_deeply(scalar Vantle::pl($handle), $data, 'which converts back');
};

subtest 'text crosses as characters' => sub {
    my $wide = "☺ smile";
    my $back = round_trip($wide);
    is($back, $wide, 'characters beyond Latin-1 arrive intact');
    ok(utf8::is_utf8($back), 'and come back flagged as UTF-8');

    my $latin1 = "caf\xe9";
    ok(!utf8::is_utf8($latin1), 'a string without the flag');
    is(round_trip($latin1), "café", 'is Latin-1 text, not bytes');
    ok(!utf8::is_utf8(round_trip('ascii')), 'ASCII text needs no flag');

    is(round_trip("a\0b"), "a\0b", 'an embedded NUL is kept');
    is_deeply(round_trip({ "k\0ey" => 1, 'ключ' => 2, "caf\xe9" => 3 }),
              { "k\0ey" => 1, 'ключ' => 2, 'café' => 3 }, 'keys cross the same way');
    is(round_trip('007'), '007', 'a numeric string stays a string');
    my $printed = 42;
    my $text = "$printed";
    ok(has_string_value($printed), 'a number that was printed');
    is(round_trip($printed), '42', 'converts as its text');

    ok(!eval { Vantle::obj("\x{D800}"); 1 }, 'a lone surrogate is no text');
    like($@, qr/^Vantle::obj: string is not valid UTF-8 at /, 'and is refused');
};

subtest 'short strings converted again and again' => sub {
    # The same bytes with and without Perl's UTF-8 flag are two strings.
    my $bytes = "\xc3\xa9";
    my $text = "é";
    is(Vantle::obj($bytes)->length, 2, 'bytes read as Latin-1');
    is(Vantle::obj($text)->length, 1, 'the same bytes as characters');
    is(Vantle::obj($bytes)->length, 2, 'and as Latin-1 again');

    # A string another conversion pushed out stays good until the pool
    # drains, as an autoreleased one would.
    { my $first = Vantle::autorelease_pool; Vantle::obj('kept') }	# made, and its pool drained
    my $pool = Vantle::autorelease_pool;
    my $kept = Vantle::obj('kept');
    Vantle::obj("other $_") for 1 .. 500;
    is(Vantle::object_is_bad($kept) + 0, 0, 'a string pushed out is still live');
    is(Vantle::pl($kept), 'kept', 'and still holds its text');
    my $long = 'x' x 200;
    is(Vantle::pl(Vantle::obj($long)), $long, 'a long string converts as well');
};

subtest 'integers keep all 64 bits' => sub {
    for my $n (0, 1, -1, 2147483648, -2147483649, 4294967296, 9007199254740993,
               9223372036854775807, -9223372036854775808, 9223372036854775808,
               18446744073709551615) {
        my $back = round_trip($n);
        is("$back", "$n", "value $n");
    }
};

subtest 'floating numbers' => sub {
    my $back = round_trip(2.5);
    is($back, 2.5, '2.5 reads 2.5 as a number');
    is(int($back), 2, 'and 2 as an integer');
    is(sprintf('%d', $back), 2, 'also for printf');
    is($back + 1, 3.5, 'arithmetic uses the number');
    is($back * 2, 5, 'every time');
    is(round_trip(0.1), 0.1, '0.1 is the same double');
    is(round_trip(-1e300), -1e300, 'large magnitudes too');
    is(round_trip(2**63), 2**63, 'a double beyond the integer range stays a double');
};

subtest 'undef, holes and nil' => sub {
    is(Vantle::nil(scalar Vantle::obj(undef)), 1, 'undef is nil');
    my @holes;
    $holes[5] = 1;
    is_deeply(round_trip(\@holes), [1], 'holes are skipped');
    is_deeply(round_trip([undef, 1, undef]), [undef, 1, undef], 'undefined elements stay');
    my $was = 'text';
    undef $was;
    is_deeply(round_trip([$was, { k => $was }]), [undef, { k => undef }],
              'a scalar that once held text is undef too');
    is_deeply(round_trip([Vantle::nil()]), [undef], 'a nil handle inside data');
};

subtest 'handles inside data pass through' => sub {
    my $class = Vantle::pl('NSObject');
    my $back = round_trip([$class, { c => $class }]);
    is(refaddr($back->[0]), refaddr($class), 'an object that is no Foundation value stays a handle');
    is(refaddr($back->[1]{c}), refaddr($class), 'inside a hash as well');
    my $inner = Vantle::obj([1, 2]);
    is_deeply(round_trip([$inner, $inner]), [[1, 2], [1, 2]], 'Foundation values convert by value');
};

subtest 'Vantle::obj in both contexts' => sub {
    my $nil = Vantle::obj();
    is(Vantle::nil($nil), 1, 'no argument gives nil in scalar context');
    is_deeply([Vantle::obj()], [], 'and nothing in list context');
    my $both = Vantle::obj(1, 'a');
    is_deeply(scalar Vantle::pl($both), [1, 'a'], 'several arguments make one array');
    my @each = Vantle::obj(1, 'a', undef);
    is(scalar @each, 3, 'list context gives a handle per argument');
    is_deeply([map { scalar Vantle::pl($_) } @each], [1, 'a', undef], 'each of its argument');
};

subtest 'Vantle::pl in both contexts' => sub {
    my $array = Vantle::obj(['x', 'y']);
    is_deeply([Vantle::pl($array)], ['x', 'y'], 'an array object expands into a list');
    is_deeply(scalar Vantle::pl($array), ['x', 'y'], 'or is a reference in scalar context');
    is(Vantle::pl(42), 42, 'a value that is no object comes back');
    is_deeply([Vantle::pl(42, 'no', Vantle::obj('yes'))], [42, 'no', 'yes'],
              'several arguments convert in place');
    is_deeply(scalar Vantle::pl(42, Vantle::obj('yes')), [42, 'yes'],
              'or into an array in scalar context');
    is_deeply(scalar Vantle::pl(), [], 'no argument gives an empty array in scalar context');
    is_deeply([Vantle::pl()], [], 'and nothing in list context');
    is_deeply([Vantle::pl(Vantle::obj([]))], [], 'an empty array object is an empty list');
    my ($one) = Vantle::pl(Vantle::obj({ a => 1 }));
    is_deeply($one, { a => 1 }, 'one non-array object gives one value');
};

subtest 'Perl values that convert through magic' => sub {
    {
        package Counting;
        our $fetches = 0;
        sub restart { $fetches = 0 }
        sub FETCH { $fetches++ }
        sub TIESCALAR { bless {} }
        sub TIEARRAY { bless {} }
        sub FETCHSIZE { 2 }
        sub TIEHASH { bless {} }
        sub FIRSTKEY { 'a' }
        sub NEXTKEY { $_[1] eq 'a' ? 'b' : undef }
    }
    tie my $scalar, 'Counting';
    is(round_trip($scalar), 0, 'a tied scalar is fetched once');
    tie my @array, 'Counting';
    Counting::restart();
    is_deeply(round_trip(\@array), [0, 1], 'tied array elements are fetched');
    tie my %hash, 'Counting';
    Counting::restart();
    is_deeply([sort { $a <=> $b } values %{ round_trip(\%hash) }], [0, 1], 'tied hash values too');
    my $string = 'abcdef';
    is(scalar Vantle::pl(scalar Vantle::obj(substr($string, 1, 3))), 'bcd', 'an lvalue argument');
    my %h;
    is(Vantle::nil(scalar Vantle::obj($h{missing})), 1, 'a missing hash element is nil');
    'xyz' =~ /(y)/;
    is(round_trip($1), 'y', 'a match variable');
};

subtest 'conversion errors name the kind of value' => sub {
    my $glob = \*STDOUT;
    my @cases = (
        [sub { Vantle::obj(sub { 1 }) }, 'CODE reference'],
        [sub { Vantle::obj($glob) }, 'GLOB reference'],
        [sub { Vantle::obj([1, [\1]]) }, 'SCALAR reference'],
        [sub { Vantle::obj(\\1) }, 'REF reference'],
        [sub { Vantle::obj(qr/x/) }, 'Regexp'],
        [sub { Vantle::obj(bless sub { 1 }, 'Some::Class') }, 'CODE reference blessed into Some::Class'],
        [sub { Vantle::obj(*STDOUT) }, 'GLOB value'],
        [sub { my @a = Vantle::obj(1, sub { 2 }) }, 'CODE reference'],
        [sub { NSMutableArray->array->addObject_(\1) }, 'SCALAR reference'],
    );
    for my $case (@cases) {
        my ($code, $kind) = @$case;
        like(error_of($code), qr/\Qdon't know how to convert $kind to an object\E/, $kind);
    }
    is(error_of(sub { Vantle::obj(sub { 1 }) }),
       q{Vantle::obj: don't know how to convert CODE reference to an object}, 'the whole text');
};

subtest 'NSData and bytes' => sub {
    my $bytes = join '', map { chr } 0 .. 255;
    my $data = Vantle::data($bytes);
    ok($data->isKindOfClass_('NSData'), 'Vantle::data makes an NSData');
    is($data->length, 256, 'of every byte');
    my $back = Vantle::pl($data);
    is($back, $bytes, 'which come back as a byte string');
    ok(!utf8::is_utf8($back), 'without the character flag');
    is_deeply(round_trip([$data, { d => $data }]), [$bytes, { d => $bytes }],
              'also inside arrays and dictionaries');
    is(Vantle::pl(Vantle::data('')), '', 'no bytes are the empty string');

    my $upgraded = "caf\xe9";
    utf8::upgrade($upgraded);
    is(Vantle::data($upgraded)->length, 4, 'a flagged string of bytes gives its bytes');
    is(error_of(sub { Vantle::data("smile \x{263a}") }),
       'Vantle::data: Wide character in byte string', 'characters beyond a byte are refused');
    is(error_of(sub { Vantle::data([]) }),
       'Vantle::data: ARRAY reference is no byte string', 'so are references');
    is(error_of(sub { Vantle::data() }), 'Usage: Vantle::data(bytes)', 'usage');
    ok(Vantle::data($data) == $data, 'an NSData is itself');
    is(error_of(sub { Vantle::data(NSString->stringWithString_('text')) }),
       'Vantle::data: object is no NSData', 'other objects are refused');
    {
        package Stringy;
        use overload '""' => sub { "bytes\xff" };
    }
    is(Vantle::pl(Vantle::data(bless {}, 'Stringy')), "bytes\xff", 'an object that makes a string');
    ok(Vantle::obj("\xff\x00")->isKindOfClass_('NSString'), 'a plain Perl string stays text');
};

subtest 'NSNull and booleans' => sub {
    my $null = NSNull->null;
    ok(!defined Vantle::pl($null), 'NSNull is undef');
    is_deeply(round_trip([$null, { n => $null }]), [undef, { n => undef }], 'inside collections too');

    my ($yes, $no) = (Vantle::obj(!!1), Vantle::obj(!!0));
    ok($yes->isKindOfClass_('NSNumber') && $no->isKindOfClass_('NSNumber'),
       "Perl's booleans become numbers");
    ok($yes->isEqual_(NSNumber->numberWithBool_(1)), 'true is YES');
    ok($no->isEqual_(NSNumber->numberWithBool_(0)), 'false is NO');
    my $array = NSMutableArray->array;
    $array->addObject_(1 == 1);
    ok($array->objectAtIndex_(0)->isKindOfClass_('NSNumber'), 'also as an id argument');

    no warnings 'experimental::builtin';
    my ($true, $false) = Vantle::pl(Vantle::obj([!!1, !!0]));
    ok(builtin::is_bool($true) && $true, 'YES comes back as true');
    ok(builtin::is_bool($false) && defined $false && !$false, 'NO as false');
    is($false + 0, 0, 'which is 0 as a number');
    ok(!builtin::is_bool(round_trip(1)), 'the number 1 stays a number');
    is(round_trip(1), 1, 'and keeps its value');
    ok(!builtin::is_bool(Vantle::pl(NSNumber->numberWithUnsignedChar_(1))),
       'so does a number of another small type');
};

subtest 'dictionary keys that collide in Perl' => sub {
    my $colliding = NSMutableDictionary->dictionary;
    $colliding->setObject_forKey_('number', NSNumber->numberWithInt_(1));
    $colliding->setObject_forKey_('string', '1');
    is($colliding->count, 2, 'two keys for Foundation');
    my $message = 'Vantle::pl: two dictionary keys become the Perl key "1"';
    is(error_of(sub { my $h = Vantle::pl($colliding) }), $message, 'are refused');
    is(error_of(sub { my @l = Vantle::pl($colliding) }), $message, 'in list context too');
    is(error_of(sub { my $a = Vantle::pl(Vantle::obj([{ ok => 1 }, $colliding])) }), $message,
       'and deep inside other data');
};

subtest 'self-reference and the depth limit' => sub {
    my @self;
    push @self, 1, \@self;
    ok(!eval { Vantle::obj(\@self); 1 }, 'an array that holds itself');
    like($@, qr/^Vantle::obj: recursive perl data structure at /, 'is refused');
    my %self;
    $self{me} = \%self;
    ok(!eval { Vantle::obj(\%self); 1 }, 'so is a hash');
    like($@, qr/^Vantle::obj: recursive perl data structure at /, 'with the same text');
    @self = ();
    %self = ();

    my $deepest = nested(99, 'leaf');
    is_deeply(round_trip($deepest), $deepest, '99 nested arrays convert both ways');
    ok(!eval { Vantle::obj(nested(100, 'leaf')); 1 }, '100 do not');
    like($@, qr/^Vantle::obj: recursive perl data structure at /, 'as if they were recursive');
    is_deeply(round_trip($deepest), $deepest, 'the depth count is back to 0 afterwards');

    my $handle = Vantle::obj($deepest);
    my $deeper = Vantle::obj([$handle]);
    ok(!eval { Vantle::pl($deeper); 1 }, 'an object nested 100 deep');
    like($@, qr/^Vantle::pl: recursive object structure at /, 'is refused on the way back');
    is_deeply(scalar Vantle::pl($handle), $deepest, 'whose count is back to 0 too');
};

subtest 'a Perl error inside a conversion leaves nothing behind' => sub {
    {
        package Dying;
        sub TIESCALAR { bless {} }
        sub FETCH { die "fetch failed\n" }
    }
    my @inner;
    tie $inner[0], 'Dying';
    my $deep = nested(98, \@inner);
    ok(!eval { Vantle::obj($deep); 1 }, 'a tie method that dies deep inside');
    is($@, "fetch failed\n", 'passes its error on');
    my $deepest = nested(99, 'leaf');
    is_deeply(round_trip($deepest), $deepest, 'and the depth count is restored');
};

done_testing();
