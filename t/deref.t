# Dereferencing a handle as a hash or an array gives its view, a container
# tied to a handle of the object, the same while it lives; other references
# are not affected.
use strict;
use warnings;
use Test::More;
use Scalar::Util qw(refaddr);
use Config;

use Vantle;
use FindBin;
use lib "$FindBin::Bin/lib";
use ChildPerl qw(run_perl);

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

subtest 'a handle answers the same view while it lives' => sub {
    is(refaddr(\%$h), refaddr(\%$h), 'the same hash at every dereference');
    is(refaddr(\@$h), refaddr(\@$h), 'the same array');
    my $again = Vantle::obj($h);
    is(refaddr(\%$again), refaddr(\%$h), 'also through another handle of the object');
    isnt(refaddr(\%{ Vantle::obj([1]) }), refaddr(\%$h), 'another object has its own');
    is(refaddr(tied %$h), refaddr($h), 'tied to a handle of the object');
    is(refaddr(tied @$h), refaddr($h), 'arrays too');
    { no warnings 'untie'; untie %$h; }
    is($h->{1}, 2, 'a view that was untied is replaced');
};

subtest 'Perl iterators kept in the view last between statements' => sub {
    my $d = Vantle::obj({ map { ("k$_" => $_) } 1 .. 5 });
    my ($steps, %seen) = (0);
    while (my ($key, $value) = each %$d) {
        $seen{$key} = "$value";
        last if ++$steps > 10;
    }
    is($steps, 5, 'each over a hash view ends after every key');
    is_deeply(\%seen, { map { ("k$_" => $_) } 1 .. 5 }, 'with the values');
    is(scalar(() = each %$d), 2, 'and begins again');
    keys %$d;    # resets, as on a Perl hash

    my ($indexes, $last) = (0, -1);
    while (my ($i, $value) = each @$h) {
        $last = $i;
        last if ++$indexes > 10;
    }
    is($indexes, 2, 'each over an array view ends');
    is($last, 1, 'at the last index');
};

subtest 'a view outlives the handles it was made from' => sub {
    my $view = \@{ Vantle::obj(['kept', 'too']) };
    is("@$view", 'kept too', 'a held view still shows the object');
    is(Vantle::object_is_bad(tied @$view) + 0, 0, 'which stays usable');
    my $hash = \%{ Vantle::obj({ a => 1 }) };
    is($hash->{a}, 1, 'so does a hash view');
    is(join(',', keys %$hash), 'a', 'and its keys');
};

subtest 'a held view and the handles made after its own have gone' => sub {
    my $outer = NSMutableArray->array;
    $outer->addObject_(Vantle::obj({ a => 1, b => 2 }));
    my $view = \%{ $outer->objectAtIndex_(0) };
    my $first = each %$view;
    my $again = $outer->objectAtIndex_(0);
    is(refaddr(\%$again), refaddr($view), 'a new handle of the object answers the held view');
    is(refaddr(tied %$view), refaddr($again), 'which its tie object shares');
    isnt(scalar(each %$again), $first, 'with the iterator where it was');
    undef $again;
    $outer->removeAllObjects;
    is(join(',', sort keys %$view), 'a,b', 'the view keeps its object after the container let go');

    my $arrays = \@{ Vantle::obj([7]) };
    Scalar::Util::weaken(my $tie = tied @$arrays);
    ok(defined $tie, 'the view keeps a handle of its own');
    undef $arrays;
    ok(!defined $tie, 'which goes with the view');
};

subtest 'a handle tied explicitly keeps its object' => sub {
    my $object = Vantle::obj({ a => 1 });
    tie my %tied, 'Vantle::Object', $object;
    $object = Vantle::obj({ b => 2 });
    is_deeply([keys %tied], ['a'], 'whatever the variable given holds later');
    my $array = Vantle::obj([3, 4]);
    tie my @tied, 'Vantle::Object', $array;
    push @tied, 5;
    is($array->count, 3, 'arrays can be tied too');
};

subtest 'views held while a thread starts and ends' => sub {
    plan skip_all => 'perl without threads' unless $Config{useithreads};
    # In a child perl: a fault here ends the process.
    my ($status, $output) = run_perl(<<'PERL');
use threads;
use Vantle;
my $d = Vantle::obj({ a => 1, b => 2 });
my $view = \%$d;                              # its handle lives on
my $kept = \@{ Vantle::obj([3, 4]) };         # its handle is gone
my $thread = threads->create(sub {
    my $own = Vantle::obj({ x => 1 });
    my $held = \%$own;
    my $copied = eval { my @keys = keys %$view; 1 } ? 'usable' : 'not usable';
    return join ' ', keys %$held, $copied;
});
print $thread->join, "\n";
my $returned = threads->create(sub { \@{ Vantle::obj([5]) } })->join;
print join(' ', sort(keys %$view), @$kept, ref($returned)), "\n";
PERL
    is($output, "x not usable\na b 3 4 ARRAY\n",
        "a thread has views of its own, and the parent's stay as they were");
    is($status, 0, 'the child ends well');
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
