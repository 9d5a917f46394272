# Typed pointers: Vantle::Ptr's subs, reading and writing through a
# pointer, and what a pointer refuses.
use strict;
use warnings;
use Test::More;

use Vantle;
use FindBin;
use lib "$FindBin::Bin/lib";
use ErrorCapture qw(error_of warnings_of);

subtest 'making pointers' => sub {
    my $void = Vantle::Ptr::new();
    isa_ok($void, 'Vantle::Ptr');
    is(Vantle::Ptr::type($void), '^v', 'no argument: a void pointer');
    is(Vantle::Ptr::value($void), 0, 'that is null');

    my $int = Vantle::Ptr::new('int *');
    is(Vantle::Ptr::type($int), '^i', 'a declaration gives its encoding');
    is(Vantle::Ptr::value(Vantle::Ptr::new('char * *', 4096)), 4096, 'at the address given');
    is(Vantle::Ptr::type(Vantle::Ptr::new('  unsigned   long/*x*/ * ')), '^L',
       'free-form declarations are normalised');
    is(Vantle::Ptr::type(Vantle::Ptr::new('struct pt { int x; double y; } *')),
       '^{pt="x"i"y"d}', 'structures keep their element names');
    is(Vantle::Ptr::type(Vantle::Ptr::new('const int *')), '^i',
       'a qualifier in front of the pointer is dropped');
    is(Vantle::Ptr::type(Vantle::Ptr::new('int []')), '^i', 'an array without size is a pointer');

    is(error_of(sub { Vantle::Ptr::new('int') }),
       'Vantle::Ptr::new: "int" is not a pointer type', 'a non-pointer type is refused');
    is(error_of(sub { Vantle::Ptr::new('NSString *') }),
       'Vantle::Ptr::new: "NSString *" is not a pointer type', 'so is an object type');
    is(error_of(sub { Vantle::Ptr::new('int [x] *') }),
       'error parsing array size (pointer)', 'a parse error is passed on');
    is(error_of(sub { Vantle::Ptr::new('struct { int x; *') }),
       'error parsing type "struct { int x; *"', 'an unclosed brace is a parse error');
    is(error_of(sub { Vantle::Ptr::new('int *', 1, 2) }),
       'Usage: Vantle::Ptr::new[(ptrtype[,ptrval])]', 'at most two arguments');
};

subtest 'reading pointers from Perl values' => sub {
    for my $false (undef, '', '0', 0, 0.0) {
        is(Vantle::Ptr::type($false), '^v', 'a false value is a void pointer');
        is(Vantle::Ptr::value($false), 0, 'that is null');
    }
    for my $bad (42, 'abc', [1, 2], {}, Vantle::nil()) {
        is(error_of(sub { Vantle::Ptr::type($bad) }), 'Vantle::Ptr::type: illegal pointer',
           'a true non-pointer has no type');
        is(error_of(sub { Vantle::Ptr::value($bad) }), 'Vantle::Ptr::value: illegal pointer',
           'and no address');
    }
    is(Vantle::Ptr::type(bless ['^d', 8], 'Vantle::Ptr'), '^d',
       'a two-element array blessed into Vantle::Ptr is read as a pointer');
    is(error_of(sub { Vantle::Ptr::value(bless ['^d'], 'Vantle::Ptr') }),
       'Vantle::Ptr::value: illegal pointer', 'one with another number of elements is not');
    for my $sub (qw(type value malloc free FETCH)) {
        no strict 'refs';
        is(error_of(sub { &{"Vantle::Ptr::$sub"}() }), "Usage: Vantle::Ptr::$sub(ptr)",
           "$sub wants exactly one argument");
    }
    is(error_of(sub { Vantle::Ptr::STORE(Vantle::Ptr::new()) }), 'Usage: Vantle::Ptr::STORE(ptr,val)',
       'STORE wants two');
};

subtest 'pointers are read-only' => sub {
    my $p = Vantle::Ptr::new('int *', 64);
    like(error_of(sub { $p->[1] = 128 }), qr/^Modification of a read-only value attempted/,
         'the address cannot be assigned');
    like(error_of(sub { $p->[0] = '^d' }), qr/^Modification of a read-only value attempted/,
         'nor the type');
    like(error_of(sub { push @$p, 1 }), qr/^Modification of a read-only value attempted/,
         'nor the array extended');
    is(Vantle::Ptr::value($p), 64, 'the pointer is unchanged');
};

subtest 'storage through a pointer' => sub {
    my $p = Vantle::Ptr::new('int *');
    my $copy = $p;
    is(Vantle::Ptr::malloc($p), $p, 'malloc answers its argument');
    isnt(Vantle::Ptr::value($p), 0, 'which now points somewhere');
    is(Vantle::Ptr::value($copy), Vantle::Ptr::value($p), 'every copy of the reference follows');
    is($p->FETCH, 0, 'new storage is zero-filled');
    $p->STORE(42);
    is($p->FETCH, 42, 'a stored value reads back');
    my $alias = Vantle::Ptr::new('int *', Vantle::Ptr::value($p));
    is($alias->FETCH, 42, 'through any pointer to the same address');
    $alias->STORE(-7);
    is($p->FETCH, -7, 'both ways');

    is(Vantle::Ptr::free($p), $p, 'free answers its argument');
    is(Vantle::Ptr::value($p), 0, 'which is null now');
    ok(!defined $p->FETCH, 'reading through a null pointer gives undef');
    Vantle::Ptr::free($p);
    is(Vantle::Ptr::value($p), 0, 'freeing a null pointer does nothing');
    is(error_of(sub { $p->STORE(1) }), 'Vantle::Ptr::STORE: cannot store value at NULL pointer',
       'storing through it fails');
};

subtest 'what cannot be allocated or accessed' => sub {
    for my $case (['void *', 'v'], ['undef *', '?'], ['struct opaque *', '{opaque}'],
                  ['int [0] *', '[0i]']) {
        my ($declaration, $pointee) = @$case;
        is(error_of(sub { Vantle::Ptr::malloc(Vantle::Ptr::new($declaration)) }),
           qq{Vantle::Ptr::malloc: cannot malloc: unknown type size "$pointee"},
           "$declaration has no size");
    }
    is(error_of(sub { Vantle::Ptr::malloc(undef) }),
       'Vantle::Ptr::malloc: cannot malloc: unknown type size "v"', 'undef is a void pointer');
    is(error_of(sub { Vantle::Ptr::malloc('x') }), 'Vantle::Ptr::malloc: illegal pointer',
       'a true non-pointer is no pointer');
    is(error_of(sub { Vantle::Ptr::malloc(bless ['i', 0], 'Vantle::Ptr') }),
       'Vantle::Ptr::malloc: not a pointer', 'a typed pointer of a non-pointer type');
    is(error_of(sub { Vantle::Ptr::free('x') }), 'Vantle::Ptr::free: illegal pointer',
       'free wants a pointer');

    my $int = Vantle::Ptr::malloc(Vantle::Ptr::new('int *'));
    my $void = Vantle::Ptr::new('void *', Vantle::Ptr::value($int));
    is(error_of(sub { $void->FETCH }), 'Vantle::Ptr:FETCH: cannot get void/unknown value',
       'a void pointer cannot be read');
    is(error_of(sub { $void->STORE(1) }), 'Vantle::Ptr::STORE: cannot store void/unknown value',
       'nor written');
    is(error_of(sub { Vantle::Ptr::FETCH('abc') }), 'Vantle::Ptr:FETCH: not a valid pointer',
       'reading through a non-pointer fails');
    is(error_of(sub { Vantle::Ptr::STORE([], 1) }), 'Vantle::Ptr::STORE: not a valid pointer',
       'so does writing');
    Vantle::Ptr::free($int);
};

subtest 'pointers to pointers' => sub {
    my $target = Vantle::Ptr::malloc(Vantle::Ptr::new('double *'));
    $target->STORE(2.5);
    my $cell = Vantle::Ptr::malloc(Vantle::Ptr::new('double * *'));
    my $null = $cell->FETCH;
    isa_ok($null, 'Vantle::Ptr', 'a pointer read from storage');
    is(Vantle::Ptr::type($null), '^d', 'has the pointed-to type');
    is(Vantle::Ptr::value($null), 0, 'and is null in new storage');

    is_deeply([warnings_of(sub { $cell->STORE($target) })], [], 'a fitting pointer stores quietly');
    my $read = $cell->FETCH;
    is(Vantle::Ptr::value($read), Vantle::Ptr::value($target), 'and reads back');
    is($read->FETCH, 2.5, 'leading to the value');

    my $int = Vantle::Ptr::new('int *', 4096);
    is_deeply([warnings_of(sub { $cell->STORE($int) })],
              ['assigning pointer type "^i" to "^d"'], 'a pointer of another type warns');
    is(Vantle::Ptr::value($cell->FETCH), 4096, 'but is stored');
    is_deeply([warnings_of(sub { $cell->STORE(Vantle::Ptr::new('void *', 8192)) })], [],
              'a void pointer fits any');

    $cell->STORE(0);
    is(Vantle::Ptr::value($cell->FETCH), 0, 'a false value stores a null pointer');
    is(error_of(sub { $cell->STORE('abc') }), 'Vantle::Ptr::STORE: not a valid pointer',
       'a true non-pointer is refused');
    is(error_of(sub { $cell->STORE(Vantle::nil()) }), 'Vantle::Ptr::STORE: not a valid pointer',
       'so is an object handle');
    Vantle::Ptr::free($_) for $cell, $target;
};

subtest 'typed pointers as arguments' => sub {
    # -[NSString getCharacters:range:] fills an unsigned short *.
    my $text = NSString->stringWithString_("hello");
    my $range = { location => 0, length => 5 };
    my $array = Vantle::Ptr::malloc(Vantle::Ptr::new('unsigned short [5] *'));
    is_deeply([warnings_of(sub { $text->getCharacters_range_($array, $range) })], [],
              'a pointer to an array fits a pointer to its elements, as a C array does');
    is(join('', map { chr } @{ $array->FETCH }), 'hello', 'and is filled');
    my $first = Vantle::Ptr::new('unsigned short *', Vantle::Ptr::value($array));
    is_deeply([warnings_of(sub { $text->getCharacters_range_($first, $range) })], [],
              'so does a pointer to the element type');
    my $bytes = Vantle::Ptr::new('unsigned char [10] *', Vantle::Ptr::value($array));
    is_deeply([warnings_of(sub { $text->getCharacters_range_($bytes, $range) })],
              ['assigning pointer type "^[10C]" to "^S"'], 'an array of another type does not');
    is_deeply([warnings_of(sub { $text->getCharacters_range_(undef, { location => 0, length => 0 }) })],
              [], 'undef is the null pointer');
    Vantle::Ptr::free($array);
};

done_testing();
