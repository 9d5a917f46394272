# The web layer's conversions between Perl values and objects, which
# `use Dravik` puts in place of the binding's.
use strict;
use warnings;
use Test::More;

use Dravik;

subtest 'Perl values to objects' => sub {
    ok(Vantle::obj('42')->isKindOfClass_(Vantle::class('NSString')),
        'a string that looks like a number stays a string');
    my $number = Vantle::obj(42);
    ok($number->isKindOfClass_(Vantle::class('NSNumber')), 'a number becomes an NSNumber');
    is($number->intValue, 42, '... of its value');
    ok(Vantle::obj(2.5)->isKindOfClass_(Vantle::class('NSNumber')), 'so does a double');
    my $handle = NSObject->new;
    ok(Vantle::obj($handle) == $handle, 'a handle passes through');
    $handle->release;
    my $blessed = bless { a => 1 }, 'Some::Package';
    my $object = Vantle::obj($blessed);
    ok($object->isKindOfClass_(Vantle::class('BqPerlObject')), 'a blessed hash is a BqPerlObject');
    is($object->stashName, 'Some::Package', '... of its package');
    my $owner = NSMutableArray->array;
    my $owned = bless { selfObject => $owner }, 'Some::Package';
    ok(Vantle::obj($owned) == $owner, 'one with "selfObject" is the object that owns it');
    my $code = Vantle::obj(sub { 1 });
    ok($code->isKindOfClass_(Vantle::class('BqPerlVar')), 'what cannot be converted stays a Perl value');
};

subtest 'objects to Perl values' => sub {
    my $number = Vantle::pl(NSNumber->numberWithDouble_(2.5));
    is($number + 0, 2.5, 'a double keeps its fraction');
    is(int($number), 2, 'and its integer value is 2');
    my $whole = Vantle::pl(NSNumber->numberWithLongLong_(2**40 + 1));
    is($whole, 2**40 + 1, 'a whole number keeps all its digits');
    my $blessed = bless { b => 2 }, 'Other::Package';
    my $back = Vantle::pl(Vantle::obj($blessed));
    is(ref $back, 'Other::Package', 'a BqPerlObject comes back as its blessed hash');
    is($back->{b}, 2, '... the same hash');
};

done_testing;
