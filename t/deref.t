# Dereferencing a handle as a hash or an array gives a fresh container tied
# to the handle; other references are not affected.
use strict;
use warnings;
use Test::More;
use Scalar::Util qw(refaddr);

use Vantle;

my $h = Vantle::obj([1, 2]);

subtest 'element access reaches the tie methods with the handle' => sub {
    no warnings 'redefine';
    my @calls;
    local *Vantle::Object::FETCH  = sub { push @calls, ['FETCH', @_]; "value of $_[1]" };
    local *Vantle::Object::STORE  = sub { push @calls, ['STORE', @_]; return };
    local *Vantle::Object::EXISTS = sub { push @calls, ['EXISTS', @_]; 1 };
    local *Vantle::Object::DELETE = sub { push @calls, ['DELETE', @_]; 'gone' };

    is($h->{name}, 'value of name', '$h->{key} fetches');
    is($h->[3], 'value of 3', '$h->[index] fetches with the index');
    $h->{name} = 'new';
    ok(exists $h->{name}, 'exists asks');
    is(delete $h->{name}, 'gone', 'delete asks');

    is_deeply([map { $_->[0] } @calls], [qw(FETCH FETCH STORE EXISTS DELETE)], 'in that order');
    is(scalar(grep { refaddr($_->[1]) == refaddr($h) } @calls), 5, 'always with the handle itself');
    is_deeply([@{ $calls[2] }[2, 3]], ['name', 'new'], 'STORE gets the key and the value');
};

subtest 'every dereference is a new tied container' => sub {
    my $first = \%$h;
    my $second = \%$h;
    isnt(refaddr($first), refaddr($second), 'two hashes');
    is(refaddr(tied %$first), refaddr($h), 'each tied to the handle');
    is(refaddr(tied @$h), refaddr($h), 'arrays too');
};

subtest 'the tie methods show the object' => sub {
    is($h->[1], 2, 'an element of an array');
    ok(!eval { my $x = $h->[5]; 1 }, 'no such index');
    like($@, qr/^Vantle::Object::FETCH: NSRangeException: /, 'croaks with the exception');
};

subtest 'other references are left alone' => sub {
    my %plain = (a => 1);
    my $hash = \%plain;
    is($hash->{a}, 1, 'a hash reference');
    my $array = [5];
    is($array->[0], 5, 'an array reference');
    my $object = bless {}, 'Some::Other';
    $object->{x} = 2;
    is($object->{x}, 2, 'an object of another package');
    my $value = 3;
    my $scalar = \$value;
    ok(!eval { my $x = $scalar->{a}; 1 }, 'a scalar reference');
    like($@, qr/^Not a HASH reference at /, "fails with Perl's own error");
};

done_testing();
