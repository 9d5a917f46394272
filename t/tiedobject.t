# What a handle used as a hash or an array shows: an array's elements, a
# dictionary's entries, an object's keys, or its instance variables.
use strict;
use warnings;
use Test::More;

use Vantle;
use FindBin;
use lib "$FindBin::Bin/lib";
use ErrorCapture qw(message);

my (undef, undef, $keyedClass) = Vantle::TestSupport::test_classes();


subtest 'the array view' => sub {
    my $a = Vantle::obj(['zero', 'one']);
    is($a->[1], 'one', 'reads by index');
    is(ref($a->[0]), 'Vantle::Object', 'as a handle');
    is($a->{1}, 'one', 'also as a hash');
    $a->[2] = 'two';
    is($a->count, 3, 'storing at the count appends');
    $a->[0] = 'nought';
    is($a->[0], 'nought', 'storing below it replaces');
    ok(!eval { $a->[5] = 'x'; 1 }, 'storing beyond it');
    like(message($@), qr/^Vantle::Object::STORE: NSRangeException: \S/,
        'croaks with the exception\'s name and reason');
    ok(!eval { my $x = $a->[9]; 1 }, 'reading beyond it');
    like(message($@), qr/^Vantle::Object::FETCH: NSRangeException: /, 'croaks alike');
    ok(exists $a->{1}, 'exists inside');
    ok(!exists $a->{3}, 'not beyond');
    ok(!exists $a->{-1}, 'nor below');
    is_deeply([keys %$a], [0, 1, 2], 'keys are the indexes');
    delete $a->{0};
    is_deeply([map { "$_" } values %$a], ['one', 'two'], 'delete removes the element');
    ok(!eval { $a->[0] = undef; 1 }, 'nil is no element');
    like(message($@), qr/^Vantle::Object::STORE: NSInvalidArgumentException: /, 'croaks');
    is($a->count, 2, 'and changes nothing');
};

subtest 'an immutable array' => sub {
    my $a = NSArray->arrayWithArray_(Vantle::obj([1, 2]));
    ok(!eval { $a->[0] = 5; 1 }, 'storing');
    is(message($@), 'Vantle::Object::STORE: NSArray is not mutable', 'croaks');
    ok(!eval { delete $a->{0}; 1 }, 'deleting');
    is(message($@), 'Vantle::Object::DELETE: NSArray is not mutable', 'croaks');
    my $empty = NSArray->array;
    is_deeply([keys %$empty], [], 'an empty array has no keys');
    is_deeply([%$empty], [], 'nor values');
};

subtest 'the dictionary view' => sub {
    my $d = Vantle::obj({ one => 1, two => 2 });
    is($d->{one}, 1, 'reads an entry');
    my $missing = $d->{nosuch};
    ok(defined $missing && Vantle::nil($missing), 'a missing key reads as the nil handle');
    ok(!exists $d->{nosuch}, 'and does not exist');
    ok(exists $d->{two}, 'a present one does');
    $d->{three} = 3;
    is($d->count, 3, 'storing adds');
    delete $d->{one};
    is_deeply([sort keys %$d], ['three', 'two'], 'delete removes');
    my @order = keys %$d;
    is_deeply([map { "$_" } @{ $d->allKeys }], \@order, 'in the dictionary\'s own order');
    ok(!eval { $d->{x} = undef; 1 }, 'nil is no value');
    like(message($@), qr/^Vantle::Object::STORE: NSInvalidArgumentException: /, 'croaks');

    my $immutable = NSDictionary->dictionaryWithDictionary_($d);
    ok(!eval { $immutable->{a} = 1; 1 }, 'storing into an immutable one');
    is(message($@), 'Vantle::Object::STORE: NSDictionary is not mutable', 'croaks');
    ok(!eval { delete $immutable->{two}; 1 }, 'deleting from it');
    is(message($@), 'Vantle::Object::DELETE: NSDictionary is not mutable', 'croaks');
};

subtest 'enumerating dictionaries' => sub {
    my %data = map { ("k$_" => $_) } 1 .. 20;
    my $d = Vantle::obj(\%data);
    my $e = Vantle::obj({ x => 1, y => 2 });
    my (@seen, @other);
    while (my ($k, $v) = each %$d) {
        push @seen, $k;
        push @other, [keys %$e] if @seen == 5;    # another enumeration in between
        delete $d->{$k};                          # and the entry just seen goes
    }
    is_deeply([sort @seen], [sort keys %data], 'every key once, with deletions and interleaving');
    is($d->count, 0, 'all deleted');
    is_deeply([sort @{ $other[0] }], ['x', 'y'], 'the other enumeration is whole');

    my $numbers = Vantle::obj({});
    $numbers->setObject_forKey_('one', NSNumber->numberWithInt_(1));
    $numbers->setObject_forKey_('two', NSNumber->numberWithInt_(2));
    is_deeply([sort keys %$numbers], [1, 2], 'keys that are no strings, as text');
};

subtest 'the key-value view' => sub {
    my $k = $keyedClass->new;
    local $Vantle::CONTROL{hash_perlify} = 1;
    $k->{b} = 'bee';
    $k->{a} = 'ay';
    is($k->{a}, 'ay', 'reads with valueForKey:');
    is_deeply([keys %$k], ['a', 'b'], 'keys are allHashKeys, in its order');
    ok(exists $k->{b}, 'exists');
    ok(!exists $k->{c}, 'does not exist');
    ok(!eval { $k->{bad} = 1; 1 }, 'a raising takeValue:forKey:');
    is(message($@), 'Vantle::Object::STORE: NSInvalidArgumentException: refused', 'croaks');
    ok(!eval { delete $k->{a}; 1 }, 'deleting');
    is(message($@), 'Vantle::Object::DELETE: cannot delete ivar', 'croaks');

    local $Vantle::CONTROL{hash_perlify} = 0;
    is_deeply([keys %$k], ['count', '_store', 'isa'], 'without hash_perlify: the variables');
};

subtest 'without perlify_foundation collections show their variables' => sub {
    my $d = Vantle::obj({ a => 1 });
    local $Vantle::CONTROL{perlify_foundation} = 0;
    ok(scalar(grep { $_ eq 'isa' } keys %$d), 'the variables');
    ok(!eval { delete $d->{a}; 1 }, 'deleting');
    is(message($@), 'Vantle::Object::DELETE: cannot delete ivar', 'croaks');
};

subtest 'keys and values as Perl data when perl_auto_convert is off' => sub {
    my $d = Vantle::obj({});
    local $Vantle::CONTROL{perl_auto_convert} = 0;
    ok(!eval { $d->{a} = 1; 1 }, 'a Perl string is no key');
    is(message($@), 'Vantle::Object::STORE: NSDictionary key: not an object', 'croaks');
    my $key = Vantle::obj('a');
    ok(!eval { $d->{$key} = 'plain'; 1 }, 'a Perl string is no value either');
    is(message($@), 'Vantle::Object::STORE: NSDictionary set value: not an object', 'croaks');
};

subtest 'bad receivers and argument counts' => sub {
    my $dead;
    Vantle::TestSupport::push_pool();
    $dead = NSObject->alloc->init->autorelease;
    Vantle::TestSupport::pop_pool();
    ok(!eval { my $x = $dead->{isa}; 1 }, 'a deallocated object');
    is(message($@), "Vantle::Object::FETCH: Dealloc'ed object", 'croaks');
    my $nil = Vantle::nil();
    ok(!eval { my $x = $nil->{a}; 1 }, 'nil');
    is(message($@), 'Vantle::Object::FETCH: nil object', 'croaks');
    my @usage = (
        [sub { Vantle::Object::FETCH($nil) }, 'Usage: Vantle::Object::FETCH(obj,ivar)'],
        [sub { Vantle::Object::STORE($nil, 1) }, 'Usage: Vantle::Object::STORE(obj,ivar,val)'],
        [sub { Vantle::Object::EXISTS($nil) }, 'Usage: Vantle::Object::EXISTS(obj,ivar)'],
        [sub { Vantle::Object::FIRSTKEY() }, 'Usage: Vantle::Object::FIRSTKEY(obj)'],
        [sub { Vantle::Object::NEXTKEY($nil) }, 'Usage: Vantle::Object::NEXTKEY(obj,ivar)'],
        [sub { Vantle::Object::DELETE($nil) }, 'Vantle::Object::DELETE(x,elem)'],
        [sub { Vantle::Object::TIEHASH('x') }, 'Usage: Vantle::Object::TIEHASH(pack,obj)'],
    );
    for my $case (@usage) {
        ok(!eval { $case->[0]->(); 1 }, $case->[1]);
        is(message($@), $case->[1], 'usage message');
    }
};

done_testing();
