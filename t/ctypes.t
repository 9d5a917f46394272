# Perl values through C storage: every named C type, at its limits, and
# arrays and structures of them, written and read through typed pointers.
use strict;
use warnings;
use Test::More;

use Vantle;
use FindBin;
use lib "$FindBin::Bin/lib";
use ErrorCapture qw(error_of warnings_of);
use Tie::Hash;

package Dying { sub TIESCALAR { bless {}, shift } sub FETCH { die "no length\n" } }

# New zero-filled storage for one value of the declared type (in
# parentheses, so "char" gives a pointer to a char, not a C string).
sub cell { Vantle::Ptr::malloc(Vantle::Ptr::new("($_[0]) *")) }

# The value read back after storing it into new storage of the type.
# The storage is freed whatever happens; a third argument is stored
# before, to release the strings the value left there.
sub through {
    my ($declaration, $value, $clear) = @_;
    my $cell = cell($declaration);
    my $back = eval { $cell->STORE($value); $cell->FETCH };
    my $error = $@;
    $cell->STORE($clear) if @_ > 2;
    Vantle::Ptr::free($cell);
    die $error if $error;
    return $back;
}

my $IV_MIN = -9223372036854775807 - 1;
my $IV_MAX = 9223372036854775807;
my $UV_MAX = ~0;

subtest 'integers keep their full width' => sub {
    my %limits = (
        'char'               => [-128, 127],
        'unsigned char'      => [0, 255],
        'short'              => [-32768, 32767],
        'unsigned short'     => [0, 65535],
        'int'                => [-2147483648, 2147483647],
        'unsigned int'       => [0, 4294967295],
        'long'               => [$IV_MIN, $IV_MAX],
        'unsigned long'      => [0, $UV_MAX],
        'long long'          => [$IV_MIN, -1, $IV_MAX],
        'unsigned long long' => [0, $IV_MAX + 1, $UV_MAX],
        'BOOL'               => [0, 1, 255],
        'bool'               => [0, 1],
    );
    for my $type (sort keys %limits) {
        for my $value (@{ $limits{$type} }) {
            is(through($type, $value), "$value", "$type holds $value");
        }
    }
    is(through('unsigned long long', $UV_MAX) + 0, $UV_MAX, 'the unsigned maximum reads as a number');
};

subtest 'out-of-range values are cut as C cuts them' => sub {
    is(through('char', 300), 44, 'the low byte of 300');
    is(through('char', 200), -56, 'a char is signed');
    is(through('unsigned char', -1), 255, 'an unsigned char of -1');
    is(through('short', 40000), -25536, 'a short keeps 16 bits');
    is(through('unsigned int', -1), 4294967295, 'an unsigned int of -1');
    is(through('int', 4294967296 + 5), 5, 'an int keeps 32 bits');
    is(through('long long', $UV_MAX), -1, 'the unsigned maximum as a signed quad');
    is(through('unsigned long long', -1), "$UV_MAX", 'and -1 as an unsigned one');
    is(through('int', 2.9), 2, 'numbers are truncated');
    is(through('bool', 42), 1, 'a bool is true or false');
    my @warnings = warnings_of(sub {
        is(through('int', '17 apples'), 17, 'strings convert as Perl converts them');
    });
    like($warnings[0], qr/isn't numeric/, 'with the warning Perl gives');
};

subtest 'floating point' => sub {
    is(through('double', 1.5e308), 1.5e308, 'a large double');
    is(through('double', 5e-324), 5e-324, 'the smallest denormal');
    is(through('double', -0.0), 0, 'negative zero');
    is(through('double', 9**9**9), 9**9**9, 'infinity');
    is(through('double', -9**9**9), -9**9**9, 'minus infinity');
    my $nan = through('double', 9**9**9 / 9**9**9);
    ok($nan != $nan, 'NaN stays NaN');
    my $float = through('float', 0.1);
    ok(abs($float - 0.1) < 1e-7 && $float != 0.1, 'a float keeps single precision');
    is(through('float', 3.4028234663852886e38), 3.4028234663852886e38, 'the largest float');
    is(through('float', 1e39), 9**9**9, 'beyond it is infinity, as in C');
    $nan = through('float', 9**9**9 / 9**9**9);
    ok($nan != $nan, 'NaN as a float');
    is(through('double', '2.25'), 2.25, 'numeric strings convert');
};

subtest 'strings, atoms and selectors' => sub {
    is(through('char *', 'hello', undef), 'hello', 'a C string');
    ok(!defined through('char *', undef), 'undef is the null pointer');
    is(through('char *', '', undef), '', 'the empty string is not null');
    is(through('char *', 12.5, undef), '12.5', 'numbers cross as their text');
    is(through('char *', "a\0b", undef), 'a', 'C strings end at a NUL');
    my $wide = "caf\x{e9} \x{263a}";
    my $bytes = through('char *', $wide, undef);
    utf8::encode(my $encoded = $wide);
    is($bytes, $encoded, 'a character string crosses as the bytes Perl holds');
    ok(!utf8::is_utf8($bytes), 'and comes back as bytes');
    is(through('char *', "caf\xe9", undef), "caf\xe9", 'a byte string crosses unchanged');

    my $cell = cell('char *');
    for my $text ('first', 'second', undef, 'third') {
        $cell->STORE($text);
        is($cell->FETCH, $text, 'each store replaces the string before it');
    }
    $cell->STORE(undef);
    Vantle::Ptr::free($cell);

    is(through('atom', 'an atom'), 'an atom', 'an atom');
    ok(!defined through('atom', undef), 'a null atom');
    is(through('SEL', 'setObject:forKey:'), 'setObject:forKey:', 'a selector');
    is(through('SEL', 'neverSeenBefore:at:all:'), 'neverSeenBefore:at:all:',
       'a selector the runtime did not know');
    ok(!defined through('SEL', undef), 'the null selector');
    ok(!defined through('SEL', ''), 'the empty name is the null selector');
};

subtest 'objects and classes' => sub {
    my $class = Vantle::pl('NSObject');
    is(${ through('id', $class) }, $$class, 'a handle crosses as its object');
    is(${ through('Class', 'NSObject') }, $$class, 'a class name as its class');
    is(${ through('Class', $class) }, $$class, 'a class handle as its class');
    is(Vantle::nil(through('id', undef)), 1, 'undef is nil');
    my $string = through('id', 'text');
    is(Vantle::pl($string), 'text', 'Perl data become Foundation objects');

    local $Vantle::CONTROL{perl_auto_convert} = 0;
    is(error_of(sub { through('id', [1]) }),
       'Vantle::Ptr::STORE: not an object (while converting to id)',
       'without conversion, Perl data are no objects');

    local $Vantle::CONTROL{runtime_type_check} = 1;
    my $array = Vantle::obj([1, 2]);
    is(Vantle::Ptr::type(Vantle::Ptr::new('NSString * *')), '^@"NSString"',
       'with type checks on, an object type names its class');
    like(error_of(sub { through('NSString *', $array) }),
         qr/^Vantle::Ptr::STORE: itypecheck: \S+ is not a kind of NSString\z/,
         'an object of another class is refused');
    is(${ through('NSObject *', $array) }, $$array, 'a subclass fits');
    like(error_of(sub { through('Class', $array) }),
         qr/^Vantle::Ptr::STORE: itypecheck: \S+ is not a class\z/, 'an instance is no class');
    like(error_of(sub { through('id <NSCopying>', $class) }),
         qr/^Vantle::Ptr::STORE: itypecheck: NSObject does not conform to protocol NSCopying\z/,
         'a protocol is checked');
    is(${ through('id <NSCopying>', $array) }, $$array, 'and passes an object that conforms');
};

subtest 'every registered name converts or refuses clearly' => sub {
    my $target = cell('int');
    my $void = Vantle::Ptr::new('void *', Vantle::Ptr::value($target));
    my %values = (
        id => Vantle::pl('NSObject'), Class => 'NSObject', SEL => 'self', char => -3, uchar => 3,
        short => -3, 'short int' => -3, ushort => 3, 'unsigned short int' => 3, int => -3,
        uint => 3, unsigned => 3, long => -3, 'long int' => -3, ulong => 3,
        'unsigned long int' => 3, quad => -3, 'long long int' => -3, uquad => 3,
        'unsigned long long int' => 3, float => 0.5, double => 0.25, STR => 'text',
        _Bool => 1, voidPtr => $void, KxTypedStreamPtr => $void, unknownPtr => $void,
        unknownStructPtr => $void, KxZonePtr => $void,
    );
    for my $name (sort keys %values) {
        my $back = through($name, $values{$name}, $name eq 'STR' ? undef : $values{$name});
        if (ref $back eq 'Vantle::Ptr') {
            is(Vantle::Ptr::value($back), Vantle::Ptr::value($target), "$name");
        } elsif (ref $back) {
            is($$back, ${ Vantle::pl('NSObject') }, "$name");
        } else {
            is($back, $values{$name}, "$name");
        }
    }
    my $zone = through('KxZone', { _0 => $void, _1 => 0, _2 => 0, _3 => $void });
    is_deeply([map { Vantle::Ptr::value($zone->{$_}) } qw(_0 _1 _2 _3)],
              [Vantle::Ptr::value($target), 0, 0, Vantle::Ptr::value($target)],
              'KxZone is a structure of four pointers');
    for my $name (qw(void oneway KxTypedStream undef)) {
        like(error_of(sub { cell($name) }), qr/^Vantle::Ptr::malloc: cannot malloc: unknown type size/,
             "$name has no storage");
    }
    my $unknown = Vantle::Ptr::new('undef [1] *', Vantle::Ptr::value($target));
    is(error_of(sub { $unknown->STORE([1]) }), 'Vantle::Ptr::STORE: cannot convert to type ?',
       'undef refuses to be converted to C');
    is(error_of(sub { $unknown->FETCH }), 'Vantle::Ptr:FETCH: cannot convert from type ?',
       'and from C');
    Vantle::Ptr::free($target);
};

subtest 'arrays' => sub {
    is_deeply(through('int [3]', [1, -2, 3]), [1, -2, 3], 'an array of ints');
    is_deeply(through('double [2] [2]', [[1, 2], [3, 4]]), [[1, 2], [3, 4]], 'arrays of arrays');
    is_deeply(through('char * [2]', ['a', undef], [undef, undef]), ['a', undef], 'of strings');

    my $cell = cell('int [3]');
    $cell->STORE([7, 8, 9]);
    is_deeply([warnings_of(sub { $cell->STORE([1, 2]) })], ['bad array size 2 (expected 3)'],
              'a short array warns');
    is_deeply($cell->FETCH, [1, 2, 9], 'and fills what it has');
    is_deeply([warnings_of(sub { $cell->STORE([4, 5, 6, 7]) })],
              ['bad array size 4 (expected 3)'], 'a long array warns');
    is_deeply($cell->FETCH, [4, 5, 6], 'and fills what fits');
    my @sparse;
    $sparse[2] = 30;
    $cell->STORE(\@sparse);
    is_deeply($cell->FETCH, [4, 5, 30], 'holes of a sparse array leave their elements alone');
    ok(!exists $sparse[0], 'and are not created');

    is(error_of(sub { $cell->STORE(5) }), 'Vantle::Ptr::STORE: perl type is not an array reference',
       'a number is no array');
    is(error_of(sub { $cell->STORE({}) }), 'Vantle::Ptr::STORE: perl type is not an array reference',
       'nor is a hash');
    my $nested = cell('int [2] [2]');
    is(error_of(sub { $nested->STORE([[1, 2], 3]) }),
       'Vantle::Ptr::STORE: perl type is not an array reference', 'so does a nested one');
    Vantle::Ptr::free($_) for $cell, $nested;
};

subtest 'structures' => sub {
    my $point = 'struct pt { int x; double y; }';
    my $back = through($point, { x => 3, y => 0.5 });
    is_deeply($back, { x => 3, y => 0.5, __signature => '"x"i"y"d' },
              'members by element name, and the signature');
    is_deeply(through($point, $back), $back, 'that hash converts back');

    my $pair = 'struct { float _; float _; }';
    $back = through($pair, { _0 => 1.5, _1 => -2 });
    is_deeply($back, { _0 => 1.5, _1 => -2, __signature => 'ff' },
              'members without names are keyed by index');
    is_deeply(through($pair, { __signature => '"w"f"h"f', w => 4, h => 5 }),
              { _0 => 4, _1 => 5, __signature => 'ff' }, '"__signature" names them');

    my $cell = cell($pair);
    $cell->STORE({ _0 => 1, _1 => 2 });
    is(error_of(sub { $cell->STORE({ _0 => 7 }) }),
       'Vantle::Ptr::STORE: missing member "_1" of struct {?=ff}', 'a missing member is an error');
    my $named = cell($point);
    $named->STORE({ _0 => 9, y => 8 });
    is_deeply($named->FETCH, { x => 9, y => 8, __signature => '"x"i"y"d' },
              'a named member may also be given by index');
    my %refused = (
        'missing member "x" (or "_0") of struct pt'      => { y => 3 },
        'member "x" of struct pt given twice, also as "_0"' => { x => 1, _0 => 1, y => 2 },
        'unknown member "z" of struct pt'                => { x => 1, y => 2, z => 3 },
        'unknown member "_2" of struct pt'               => { x => 1, y => 2, _2 => 3 },
    );
    for my $message (sort keys %refused) {
        is(error_of(sub { $named->STORE($refused{$message}) }), "Vantle::Ptr::STORE: $message",
           $message);
    }
    is_deeply([$cell->FETCH, $named->FETCH],
              [{ _0 => 1, _1 => 2, __signature => 'ff' }, { x => 9, y => 8, __signature => '"x"i"y"d' }],
              'and a refused hash stores nothing');

    tie my %tied, 'Tie::StdHash';
    %tied = (x => 4, y => 0.5);
    $named->STORE(\%tied);
    is($named->FETCH->{x}, 4, 'a tied hash gives its members');
    $tied{extra} = 1;
    is(error_of(sub { $named->STORE(\%tied) }),
       'Vantle::Ptr::STORE: unknown member "extra" of struct pt', 'and its keys are checked too');

    is(error_of(sub { $cell->STORE([1, 2]) }), 'Vantle::Ptr::STORE: perl type is not a hash reference',
       'an array is no structure');
    is(error_of(sub { $cell->STORE('x') }), 'Vantle::Ptr::STORE: perl type is not a hash reference',
       'nor is a string');

    my $nested = 'struct line { struct pt { int x; double y; } from; char * [2] names;'
               . ' struct { char _; short _; } [2] tags; }';
    my $value = {
        from  => { x => -1, y => 1e10 },
        names => ['left', 'right'],
        tags  => [{ _0 => 65, _1 => -300 }, { _0 => -1, _1 => 32767 }],
    };
    my $clear = { %$value, names => [undef, undef] };
    $back = through($nested, $value, $clear);
    is_deeply($back->{from}, { %{ $value->{from} }, __signature => '"x"i"y"d' },
              'a structure nested in a structure');
    is_deeply($back->{names}, $value->{names}, 'an array of strings in a structure');
    is_deeply([map { [$_->{_0}, $_->{_1}] } @{ $back->{tags} }], [[65, -300], [-1, 32767]],
              'structures in an array in a structure');
    is(Vantle::Ptr::type(Vantle::Ptr::new("$nested *")),
       '^{line="from"{pt="x"i"y"d}"names"[2*]"tags"[2{?=cs}]}', 'with this encoding');
    is(error_of(sub { through($nested, { %$value, from => [1, 2] }) }),
       'Vantle::Ptr::STORE: perl type is not a hash reference'
       . ' (while converting member "from" of struct line)', 'a nested member names itself');
    is(error_of(sub { through($nested, { %$value, tags => [{ _0 => 1 }, {}] }, $clear) }),
       'Vantle::Ptr::STORE: missing member "_1" of struct {?=cs}'
       . ' (while converting member "tags" of struct line)', 'also deeper down');

    my $scratch = cell('int [4]');
    my $bad = Vantle::Ptr::new('struct { int a; undef u; } *', Vantle::Ptr::value($scratch));
    is(error_of(sub { $bad->FETCH }),
       'Vantle::Ptr:FETCH: cannot convert from type ? (while converting element "u")',
       'a member that cannot be read names itself');
    Vantle::Ptr::free($_) for $cell, $named, $scratch;
};

subtest 'Foundation structures by member name' => sub {
    my $text = NSString->stringWithString_("hello, world");
    my $range = $text->rangeOfString_("world");
    is_deeply($range, { location => 7, length => 5, __signature => 'QQ' },
              'an NSRange result is keyed by the names of its members');
    is(Vantle::pl($text->substringWithRange_($range)), 'world', 'and goes back as an argument');
    is(Vantle::pl($text->substringWithRange_({ location => 1, length => 3 })), 'ell',
       'an argument by member name');
    is(Vantle::pl($text->substringWithRange_({ _0 => 1, _1 => 3 })), 'ell', 'or by index');

    my $rect = { origin => { x => 1, y => 2 }, size => { width => 3, height => 4.5 } };
    is_deeply(NSValue->valueWithRect_($rect)->rectValue,
              { origin => { x => 1, y => 2, __signature => 'dd' },
                size => { width => 3, height => 4.5, __signature => 'dd' },
                __signature => '{_NSPoint=dd}{_NSSize=dd}' },
              'a rectangle crosses with the names of points and sizes');

    my $sent = qr/ \(while converting arguments for \S+ \S+\)\z/;
    my %refused = (
        'missing member "length" (or "_1") of struct _NSRange'  => { location => 1 },
        'unknown member "lenght" of struct _NSRange'            => { location => 1, length => 1, lenght => 1 },
        'member "location" of struct _NSRange given twice, also as "_0"'
            => { location => 1, _0 => 1, length => 1 },
    );
    for my $message (sort keys %refused) {
        like(error_of(sub { $text->substringWithRange_($refused{$message}) }),
             qr/^\Q$message\E$sent/, $message);
    }
    like(error_of(sub { NSValue->valueWithRect_({ %$rect, origin => [1, 2] }) }),
         qr/^perl type is not a hash reference \(while converting member "origin" of struct _NSRect\)$sent/,
         'a member that is no hash names itself and its structure');
    like(error_of(sub { NSValue->valueWithRect_({ %$rect, size => { width => 1 } }) }),
         qr/^missing member "height" \(or "_1"\) of struct _NSSize \(while converting member "size"/,
         'so does one missing in a nested structure');
};

subtest 'char * arguments' => sub {
    my $text = NSString->stringWithString_("hello, world");
    my $buffer = Vantle::Ptr::malloc(Vantle::Ptr::new('char [32] *'));
    ok($text->getCString_maxLength_encoding_($buffer, 32, 4), 'a typed pointer is a buffer to fill');
    is(unpack('Z*', pack('c*', @{ $buffer->FETCH })), 'hello, world', 'that holds the C string');

    my $scalar = '.' x 40;
    ok($text->getCString_maxLength_encoding_($scalar, 32, 4), 'a Perl string is lent');
    is($scalar, '.' x 40, 'as a copy: the method wrote into no Perl string');
    # The copy is freed when a later argument dies (valgrind sees it).
    tie my $dying, 'Dying';
    is(error_of(sub { $text->getCString_maxLength_encoding_($scalar, $dying, 4) }), "no length\n",
       'a Perl error in a later argument reaches the caller');

    my $data = NSMutableData->dataWithLength_(16);
    is_deeply([warnings_of(sub { $text->getCString_maxLength_encoding_($data->mutableBytes, 16, 4) })],
              [], 'a void * fits a char *');
    is(Vantle::pl(NSString->stringWithUTF8String_($data->bytes)), 'hello, world',
       'a const void * fits a const char *');
    my $ints = Vantle::Ptr::malloc(Vantle::Ptr::new('int [8] *'));
    is_deeply([warnings_of(sub { $text->getCString_maxLength_encoding_($ints, 32, 4) })],
              ['assigning pointer type "^[8i]" to "*"'],
              'a pointer to anything but bytes is passed with a warning');

    my $cell = cell('char *');
    is(error_of(sub { $cell->STORE($buffer) }),
       'Vantle::Ptr::STORE: a typed pointer cannot be stored as a C string that the storage owns',
       'storage that owns its string takes no typed pointer');
    ok(!defined $cell->FETCH, 'and keeps what it had');
    Vantle::Ptr::free($_) for $buffer, $ints, $cell;
};

subtest 'const void * arguments take byte strings' => sub {
    my $bytes_of = sub {
        my ($data) = @_;
        my $length = $data->length;
        return [] unless $length;
        return Vantle::Ptr::new("unsigned char [$length] *", Vantle::Ptr::value($data->bytes))->FETCH;
    };
    is_deeply($bytes_of->(NSData->dataWithBytes_length_("ab\0cd", 5)), [97, 98, 0, 99, 100],
              'the bytes of a Perl string, NULs included');
    is_deeply($bytes_of->(NSData->dataWithBytes_length_('0', 1)), [48], 'a false string is bytes too');
    my $latin = "caf\x{e9}";
    utf8::upgrade($latin);
    is_deeply($bytes_of->(NSData->dataWithBytes_length_($latin, length $latin)), [99, 97, 102, 233],
              'a character string below 256 gives its characters as bytes');
    ok(utf8::is_utf8($latin), 'and is left as it was');
    like(error_of(sub { NSData->dataWithBytes_length_("\x{263a}", 3) }),
         qr/^Wide character in byte string \(while converting arguments for /,
         'wider characters are refused');
    is(NSData->dataWithBytes_length_(undef, 0)->length, 0, 'undef is the null pointer');
    like(error_of(sub { NSMutableData->dataWithLength_(4)->getBytes_length_('abcd', 4) }),
         qr/^not a valid pointer /, 'a void * the method writes through takes no string');
};

subtest 'strings inside aggregates belong to the storage' => sub {
    my $cell = cell('struct { char * name; int n; char * [2] tags; }');
    for my $round (1 .. 3) {
        $cell->STORE({ name => "name $round", n => $round, tags => ["a$round", "b$round"] });
    }
    my $back = $cell->FETCH;
    is($back->{name}, 'name 3', 'the last strings stored are there');
    is_deeply($back->{tags}, ['a3', 'b3'], 'in arrays too');
    $cell->STORE({ name => undef, n => 0, tags => [undef, undef] });
    is_deeply($cell->FETCH, { name => undef, n => 0, tags => [undef, undef],
                              __signature => '"name"*"n"i"tags"[2*]' },
              'storing undef releases them');
    Vantle::Ptr::free($cell);
};

done_testing();
