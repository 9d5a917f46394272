# Instance variables read and written by name, through a handle's hash and
# through scalars linked to them.
use strict;
use warnings;
use Test::More;

use Vantle;
use Vantle::TestSupport;

my ($pairClass, $ivarsClass) = Vantle::TestSupport::test_classes();

subtest 'every kind of variable keeps what was stored' => sub {
    my $o = $ivarsClass->new->autorelease;
    my $array = Vantle::obj([1]);
    my %values = (
        ch => -5, uch => 200, sh => -300, ush => 60000, in => -70000,
        uin => 4000000000, lo => -(1 << 40), ulo => 1 << 41, qu => -(1 << 50),
        uqu => 1 << 52, fl => 1.5, db => 2.25, str => "bytes \xff",
        cls => 'NSString', sel => 'count',
    );
    $o->{$_} = $values{$_} for keys %values;
    is($o->{$_}, $values{$_}, $_) for sort grep { $_ ne 'cls' } keys %values;
    is(ref($o->{cls}), 'Vantle::Object', 'a class comes back as a handle');
    ok($o->{cls} == Vantle::class('NSString'), 'of the class stored');

    $o->{obj} = $array;
    ok($o->{obj} == $array, 'an object variable holds the object');
    $o->{pt} = { _0 => 3, _1 => 4.5 };
    is_deeply([@{ $o->{pt} }{qw(_0 _1)}], [3, 4.5], 'a structure, member by member');
    $o->{arr} = [7, 8, 9];
    is_deeply($o->{arr}, [7, 8, 9], 'an array');
    $o->{ptr} = Vantle::Ptr::new('int *', 4096);
    is(Vantle::Ptr::value($o->{ptr}), 4096, 'a typed pointer');
    is(Vantle::Ptr::type($o->{ptr}), '^i', 'of its type');

    $o->{str} = undef;
    ok(!defined $o->{str}, 'a string variable set to null');
    $o->{str} = 'again';
    is(Vantle::ivar_get($o, 'str'), 'again', 'and to a new copy');
    $o->{str} = undef;
};

subtest 'ivar_get and ivar_set' => sub {
    my $p = $pairClass->new->autorelease;
    ok(Vantle::ivar_set($p, 'a', 12) == $p, 'ivar_set answers the object');
    is(Vantle::ivar_get($p, 'a'), 12, 'ivar_get reads it');
    is($p->{a}, 12, 'so does the hash');
    ok(!eval { Vantle::ivar_get($p, 'nosuch'); 1 }, 'a missing variable');
    is($@ =~ s/ at .*//sr, 'Vantle::ivar_get: no ivar "nosuch"', 'is named');
    ok(!eval { Vantle::ivar_get($p, "a\0x"); 1 }, 'a name with a NUL names none');
    ok(!eval { Vantle::ivar_set(undef, 'a', 1); 1 }, 'nil');
    like($@, qr/^Vantle::ivar_set: nil object at /, 'is refused');
    ok(!eval { Vantle::ivar_get([], 'a'); 1 }, 'Perl data is no object');
    ok(!eval { Vantle::ivar_set($pairClass, 'name', 'x'); 1 }, 'a class');
    like($@, qr/^Vantle::ivar_set: refusing to modify class vars at /, 'is never written');
    is(Vantle::ivar_get($pairClass, 'name'), 'VantleTestPair', 'but can be read');
    my $o = $ivarsClass->new->autorelease;
    ok(!eval { Vantle::ivar_set($o, 'pt', 5); 1 }, 'a value that does not convert');
    like($@, qr/^Vantle::ivar_set: perl type is not a hash reference at /,
        'croaks with the converter\'s text');
    ok(!eval { Vantle::ivar_get($p); 1 }, 'wrong count');
    like($@, qr/^Usage: Vantle::ivar_get\(obj,ivar\) at /, 'usage');
    ok(!eval { Vantle::ivar_set($p, 'a'); 1 }, 'wrong count');
    like($@, qr/^Usage: Vantle::ivar_set\(obj,ivar,val\) at /, 'usage');
};

subtest "an object's class pointer is never written" => sub {
    my $p = $pairClass->new->autorelease;
    my $message = "Vantle::ivar_set: refusing to modify isa, the object's class";
    Vantle::ivar(my $linked, $p, 'isa');
    tie my %view, 'Vantle::Object', $p;
    # Each writes the class the object already has, so a build that lets
    # the write through still runs on.
    my @routes = (
        ['Vantle::ivar_set', sub { Vantle::ivar_set($p, 'isa', $pairClass) }],
        ['the hash view', sub { $p->{isa} = $pairClass }],
        ['an explicit tie', sub { $view{isa} = $pairClass }],
        ['a linked scalar', sub { $linked = $pairClass }],
        ['Vantle::IVar::STORE', sub { Vantle::IVar::STORE(tied $linked, $pairClass) }],
    );
    for my $route (@routes) {
        my ($name, $code) = @$route;
        ok(!eval { $code->(); 1 }, "$name refuses");
        is($@ =~ s/ at .*//sr, $message, "$name: message");
    }
    ok(Vantle::ivar_get($p, 'isa') == $pairClass, 'reading it still works');
    ok($linked == $pairClass, 'also through the linked scalar');
    is(Vantle::pl($p->className), 'VantleTestPair', 'and the object is what it was');
};

subtest 'a linked scalar reads and writes the variable' => sub {
    my $p = $pairClass->new->autorelease;
    $p->{a} = 1;
    Vantle::ivar(my $a, $p, 'a');
    is($a, 1, 'reads the current value');
    $p->{a} = 2;
    is($a, 2, 'at every read');
    $a = 3;
    is($p->{a}, 3, 'and writes at every assignment');
    is(ref(tied $a), 'Vantle::IVar', 'through Vantle::IVar');
    ok(!eval { Vantle::ivar(my $b, $p, 'nosuch'); 1 }, 'a missing variable');
    like($@, qr/^Vantle::ivar: nosuch: NULL ivar at /, 'is named');
    ok(!eval { Vantle::ivar(my $b, undef, 'a'); 1 }, 'nil');
    like($@, qr/^Vantle::ivar: a: nil object at /, 'is refused');
    ok(!eval { Vantle::ivar(my $b, $p); 1 }, 'wrong count');
    like($@, qr/^Usage: Vantle::ivar\(v,obj,ivar\) at /, 'usage');
};

subtest 'made-up link objects are refused' => sub {
    my $p = $pairClass->new->autorelease;
    my $o = $ivarsClass->new->autorelease;
    Vantle::ivar(my $a, $p, 'a');
    my $record = (@{ tied $a })[2];
    my @cases = (
        [bless([$p, 'a', 12345], 'Vantle::IVar'), qr/bad reference/, 'a made-up record'],
        [bless([$o, 'in', $record], 'Vantle::IVar'), qr/bad reference/, 'another class\'s record'],
        [bless([$p], 'Vantle::IVar'), qr/bad reference/, 'too few elements'],
        [bless({}, 'Vantle::IVar'), qr/bad reference/, 'no array'],
        [bless([$p, 'a'], 'Other'), qr/not an ivar/, 'another class'],
        [bless([$p, 'zz'], 'Vantle::IVar'), qr/no ivar zz/, 'a missing variable'],
    );
    for my $case (@cases) {
        my ($link, $pattern, $name) = @$case;
        ok(!eval { Vantle::IVar::FETCH($link); 1 }, $name);
        like($@, qr/^Vantle::IVar::FETCH: $pattern at /, "$name: message");
    }
    is(Vantle::IVar::FETCH(bless([$p, 'a'], 'Vantle::IVar')), 0, 'a link without a record is looked up');
    ok(!eval { Vantle::IVar::STORE($cases[0][0], 1); 1 }, 'STORE checks too');
    like($@, qr/^Vantle::IVar::STORE: bad reference at /, 'with its name');
};

subtest 'the instance variable view' => sub {
    my $p = $pairClass->new->autorelease;
    is_deeply([keys %$p], [qw(a b isa)], 'own variables first, then the superclass\'s');
    ok(exists $p->{a}, 'exists');
    ok(!exists $p->{c}, 'does not exist');
    ok(!eval { my $x = $p->{nosuch}; 1 }, 'reading a missing variable');
    like($@, qr/^Vantle::Object::FETCH: no ivar "nosuch" at /, 'croaks');
    ok(!eval { delete $p->{a}; 1 }, 'deleting');
    like($@, qr/^Vantle::Object::DELETE: cannot delete ivar at /, 'croaks');
    tie my %h, 'Vantle::Object', $p;
    $h{a} = 9;
    is($p->{a}, 9, 'an explicit tie shows the same');
};

done_testing();
