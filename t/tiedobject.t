# What a handle used as a hash or an array shows: an array's elements, a
# dictionary's entries, an object's keys, or its instance variables.
use strict;
use warnings;
use Test::More;

use Vantle;
use Vantle::TestSupport;
use FindBin;
use lib "$FindBin::Bin/lib";
use ErrorCapture qw(message error_of warnings_of);

my (undef, undef, $keyedClass) = Vantle::TestSupport::test_classes();

# Elements of a Perl array or an array view, and answers, as text (undef
# stays undef), so that Perl data and handles compare.
sub text {
    my ($value) = @_;
    return [map { text($_) } @$value] if ref($value) eq 'ARRAY';
    return defined $value ? "$value" : undef;
}
sub texts { text([@{ $_[0] }]) }


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
    $a->[0] = undef;
    ok(!defined $a->[0], 'undef is stored');
    ok($a->objectAtIndex_(0) == BqNil->sharedInstance, 'as BqNil');
};

subtest 'whole-array operations do what they do on a Perl array' => sub {
    my @cases = (
        ['push', sub { push @{ $_[0] }, 'x', 'y' }],
        ['pop', sub { pop @{ $_[0] } }],
        ['shift', sub { shift @{ $_[0] } }],
        ['unshift', sub { unshift @{ $_[0] }, 'u', undef }],
        ['splice of a list in list context', sub { [splice @{ $_[0] }, 1, 2, 'p', 'q', 'r'] }],
        ['splice in scalar context', sub { scalar splice @{ $_[0] }, 1, 2 }],
        ['splice removing nothing in scalar context', sub { scalar splice @{ $_[0] }, 1, 0 }],
        ['splice from a negative offset', sub { [splice @{ $_[0] }, -3, 2] }],
        ['splice with a negative length', sub { [splice @{ $_[0] }, 1, -1] }],
        ['splice inserting only', sub { [splice @{ $_[0] }, 4, 0, 'i'] }],
        ['splice of the rest', sub { [splice @{ $_[0] }, 2] }],
        ['splice of everything', sub { [splice @{ $_[0] }] }],
        ['splice with a length past the end', sub { [splice @{ $_[0] }, 2, 10] }],
        ['$#a = n growing', sub { $#{ $_[0] } = 5; [map { defined } @{ $_[0] }] }],
        ['$#a = n shrinking', sub { $#{ $_[0] } = 0 }],
        ['$#a = -1', sub { $#{ $_[0] } = -1 }],
        ['@a = ()', sub { @{ $_[0] } = (); scalar @{ $_[0] } }],
        ['@a = LIST', sub { @{ $_[0] } = ('l', undef, 'm'); $#{ $_[0] } }],
        ['delete of the last element', sub { delete $_[0][-1] }],
        ['negative indexes', sub { [$_[0][-1], $_[0][-4], exists $_[0][-5]] }],
        ['pop and shift when empty', sub { @{ $_[0] } = (); [pop @{ $_[0] }, shift @{ $_[0] }] }],
        ['pushing during a foreach', sub {
            my @seen;
            for my $x (@{ $_[0] }) {
                push @seen, $x;
                push @{ $_[0] }, 'late' if $x eq 'one';
            }
            \@seen;
        }],
        ['join and reverse', sub { join('-', reverse @{ $_[0] }) }],
    );
    for my $case (@cases) {
        my ($name, $operation) = @$case;
        my @perl = qw(zero one two three);
        my $view = Vantle::obj([@perl]);
        my $expected = $operation->(\@perl);
        my $answer = $operation->($view);
        is_deeply(text($answer), text($expected), "$name: the answer");
        is_deeply(texts($view), texts(\@perl), "$name: the elements");
    }

    my $a = Vantle::obj([1, 2]);
    my @plain = (1, 2);
    my @warned = warnings_of(sub { splice @$a, 5, 0, 3 });
    is_deeply([@warned], [warnings_of(sub { splice @plain, 5, 0, 3 })],
        'an offset past the end warns as Perl does');
    is_deeply(texts($a), texts(\@plain), 'and appends');
    my $perlError = error_of(sub { splice @plain, -9, 1 });
    is(error_of(sub { splice @$a, -9, 1 }), "Vantle::Object::SPLICE: $perlError",
        'an offset before the start croaks as Perl does');
    Vantle::TestSupport::push_pool();
    my $dead = NSObject->alloc->init->autorelease;
    Vantle::TestSupport::pop_pool();
    is(error_of(sub { push @$a, 'fine', $dead }),
        "Vantle::Object::PUSH: NSArray set value: Dealloc'ed object",
        'an element that cannot be converted croaks');
    is_deeply(texts($a), texts(\@plain), 'leaves the array as it was');
};

subtest 'an immutable array' => sub {
    my $a = NSArray->arrayWithArray_(Vantle::obj([1, 2]));
    my @changes = (
        [STORE => sub { $a->[0] = 5 }],
        [DELETE => sub { delete $a->{0} }],
        [PUSH => sub { push @$a, 3 }],
        [POP => sub { pop @$a }],
        [SHIFT => sub { shift @$a }],
        [UNSHIFT => sub { unshift @$a, 0 }],
        [SPLICE => sub { splice @$a, 0, 1 }],
        [STORESIZE => sub { $#$a = 0 }],
        [CLEAR => sub { @$a = () }],
        [CLEAR => sub { %$a = () }],
    );
    for my $change (@changes) {
        my ($method, $code) = @$change;
        is(error_of($code), "Vantle::Object::$method: NSArray is not mutable", "$method croaks");
    }
    is_deeply(texts($a), [1, 2], 'and the array stays as it was');
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
    $d->{x} = undef;
    ok(exists $d->{x} && !defined $d->{x}, 'undef is stored, and read back');

    my $immutable = NSDictionary->dictionaryWithDictionary_($d);
    ok(!eval { $immutable->{a} = 1; 1 }, 'storing into an immutable one');
    is(message($@), 'Vantle::Object::STORE: NSDictionary is not mutable', 'croaks');
    ok(!eval { delete $immutable->{two}; 1 }, 'deleting from it');
    is(message($@), 'Vantle::Object::DELETE: NSDictionary is not mutable', 'croaks');
    is(error_of(sub { %$immutable = () }), 'Vantle::Object::CLEAR: NSDictionary is not mutable',
        'clearing it croaks');
    is($immutable->count, 3, 'and it keeps its entries');
};

subtest 'whole-hash operations do what they do on a Perl hash' => sub {
    my %perl = (one => 1, two => 2, three => 3);
    my $d = Vantle::obj({%perl});
    is(delete $d->{two}, delete $perl{two}, 'delete answers the value deleted');
    is(delete $d->{nosuch}, undef, 'or undef for a missing key');
    is_deeply([delete @$d{qw(one three)}], [delete @perl{qw(one three)}], 'also for a slice');
    ok(!%$d, 'an empty dictionary is false');
    is(scalar(%$d), scalar(%perl), 'in scalar context');
    %$d = (a => 1, b => undef);
    is(scalar(%$d), 2, 'a list assignment stores it');
    is_deeply({ map { ($_ => text($d->{$_})) } keys %$d }, { a => 1, b => undef }, 'entry by entry');
    %$d = ();
    is($d->count, 0, '%h = () empties it');
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

    my $outer = Vantle::obj({ a => 1, b => 2 });
    my $inner = Vantle::obj({ x => 1, y => 2, z => 3 });
    my @pairs;
    while (my ($o) = each %$outer) {
        while (my ($i) = each %$inner) {
            push @pairs, "$o$i";
            last if @pairs > 20;
        }
    }
    is_deeply([sort @pairs], [qw(ax ay az bx by bz)], 'walks of two handles nest');

    my $shrinking = Vantle::obj({ map { ("k$_" => $_) } 1 .. 6 });
    my @walked;
    while (my ($k) = each %$shrinking) {
        push @walked, $k;
        delete @$shrinking{ grep { $_ ne $k } map { "k$_" } 1 .. 6 } if @walked == 1;
        $shrinking->{late} = 1;
        last if @walked > 20;
    }
    is(scalar(@walked), 1, 'keys deleted during a walk are skipped, keys added not seen');
};

subtest 'an abandoned walk is let go with its handle' => sub {
    my $holder = Vantle::obj([{ a => 1, b => 2 }]);
    my $retained = sub { $holder->objectAtIndex_(0)->retainCount };
    my $before = $retained->();
    Vantle::TestSupport::push_pool();    # for what Foundation autoreleases
    for (1 .. 3) {
        my $d = $holder->objectAtIndex_(0);
        my ($first) = each %$d;
    }
    Vantle::TestSupport::pop_pool();
    is($retained->(), $before, 'the dictionary is released');
};

subtest 'the key-value view' => sub {
    my $k = $keyedClass->new->autorelease;
    local $Vantle::CONTROL{hash_perlify} = 1;
    $k->{b} = 'bee';
    $k->{a} = 'ay';
    is($k->{a}, 'ay', 'reads with valueForKey:');
    is_deeply([keys %$k], ['a', 'b'], 'keys are allHashKeys, in its order');
    ok(exists $k->{b}, 'exists');
    ok(!exists $k->{c}, 'does not exist');
    ok(!eval { $k->{bad} = 1; 1 }, 'a raising takeValue:forKey:');
    is(message($@), 'Vantle::Object::STORE: NSInvalidArgumentException: refused', 'croaks');
    is(error_of(sub { $k->{isa} = NSString->class }),
        "Vantle::Object::STORE: refusing to modify isa, the object's class",
        'the class pointer is never set through the view');
    is($k->class, $keyedClass, 'the class is unchanged');
    ok(!eval { delete $k->{a}; 1 }, 'deleting');
    is(message($@), 'Vantle::Object::DELETE: cannot delete ivar', 'croaks');

    my @seen;
    while (my ($key) = each %$k) {
        push @seen, $key;
        $k->{c} = 'sea' if $key eq 'a';
        last if @seen > 10;
    }
    is_deeply(\@seen, ['a', 'b'], 'a walk sees the keys it began with');
    is(scalar(%$k), 3, 'in scalar context, the number of keys');
    is(error_of(sub { %$k = () }), 'Vantle::Object::CLEAR: cannot delete ivar',
        'clearing croaks');

    local $Vantle::CONTROL{hash_perlify} = 0;
    is_deeply([keys %$k], ['count', '_store', 'isa'], 'without hash_perlify: the variables');
    is(scalar(%$k), 3, 'counted in scalar context');
    is(error_of(sub { push @$k, 1 }), 'Vantle::Object::PUSH: not an array',
        'array operations croak');
    is(error_of(sub { my $n = @$k }), 'Vantle::Object::FETCHSIZE: not an array', 'so does the size');
};

subtest 'without perlify_foundation collections show their variables' => sub {
    my $d = Vantle::obj({ a => 1 });
    local $Vantle::CONTROL{perlify_foundation} = 0;
    ok(scalar(grep { $_ eq 'isa' } keys %$d), 'the variables');
    ok(!eval { delete $d->{a}; 1 }, 'deleting');
    is(message($@), 'Vantle::Object::DELETE: cannot delete ivar', 'croaks');
    my $a = Vantle::obj([1]);
    is(error_of(sub { pop @$a }), 'Vantle::Object::POP: not an array', 'an array is no array');
};

subtest 'keys and values as Perl data when perl_auto_convert is off' => sub {
    my $d = Vantle::obj({});
    local $Vantle::CONTROL{perl_auto_convert} = 0;
    ok(!eval { $d->{a} = 1; 1 }, 'a Perl string is no key');
    is(message($@), 'Vantle::Object::STORE: NSDictionary key: not an object', 'croaks');
    my $key = Vantle::obj('a');
    ok(!eval { $d->{$key} = 'plain'; 1 }, 'a Perl string is no value either');
    is(message($@), 'Vantle::Object::STORE: NSDictionary set value: not an object', 'croaks');
    $d->{$key} = $key;
    $d->{ Vantle::obj('b') } = $key;
    is_deeply([sort keys %$d], ['a', 'b'], 'keys are walked all the same');
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
        [sub { Vantle::Object::TIEARRAY('x') }, 'Usage: Vantle::Object::TIEARRAY(pack,obj)'],
        [sub { Vantle::Object::PUSH() }, 'Usage: Vantle::Object::PUSH(obj,...)'],
        [sub { Vantle::Object::STORESIZE($nil) }, 'Usage: Vantle::Object::STORESIZE(obj,count)'],
        [sub { Vantle::Object::CLEAR() }, 'Usage: Vantle::Object::CLEAR(obj)'],
    );
    for my $case (@usage) {
        ok(!eval { $case->[0]->(); 1 }, $case->[1]);
        is(message($@), $case->[1], 'usage message');
    }
};

done_testing();
