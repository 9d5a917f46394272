# Retaining containers: hashes, arrays and scalars tied to Dravik::Magic
# keep the objects of the handles they hold alive, and let them go
# (autoreleased) when the handles leave.
use strict;
use warnings;
use Config;
use Test::More;
use FindBin;
use lib "$FindBin::Bin/lib";
use ErrorCapture qw(error_of warnings_of);
use ChildPerl qw(run_perl);

use Vantle;
use Dravik;

# Objects owned by the test (released at the end), and their counts.
my @owned;
sub object { my $o = NSObject->new; push @owned, $o; return $o }
sub counts { [map { $_->retainCount } @_] }

# Runs code with a pool of its own, so what it autoreleased is let go
# before the counts are read.
sub drained { my ($code) = @_; my $pool = Vantle::autorelease_pool; $code->(); return }

subtest 'a retaining hash' => sub {
    my ($a, $b) = (object(), object());
    tie my %h, 'Dravik::Magic';
    drained(sub { $h{x} = $a; $h{y} = $a; $h{n} = 5; $h{c} = 'NSObject' });
    is_deeply(counts($a, $b), [3, 1], 'each stored handle retains its object once');
    ok($h{x} == $a, 'and reads back as a handle of it');
    drained(sub { $h{x} = $b; $h{y} = $a });
    is_deeply(counts($a, $b), [2, 2], 'overwriting releases the old object, also by itself');
    drained(sub { delete $h{y}; delete $h{n}; delete $h{missing} });
    is_deeply(counts($a, $b), [1, 2], 'deleting releases');
    drained(sub { $h{z} = $a; %h = (c => $b) });
    is_deeply([sort keys %h], ['c'], 'a list assignment replaces everything');
    is_deeply(counts($a, $b), [1, 2], 'releasing what it removes, retaining what it adds');
    drained(sub { untie %h });
    is_deeply(counts($a, $b), [1, 1], 'the inner hash releases the rest when it goes');
    drained(sub { tie my %gone, 'Dravik::Magic'; $gone{$_} = $a for 1 .. 3 });
    is($a->retainCount, 1, 'so does a hash going out of scope');
};

subtest 'selfObject holds the owner unretained' => sub {
    my ($self, $other) = (object(), object());
    drained(sub {
        tie my %h, 'Dravik::Magic';
        $h{selfObject} = $self;
        $h{other} = $other;
        is($self->retainCount, 1, 'storing it retains nothing');
        ok(!exists $h{selfObject}, 'EXISTS denies it');
        ok($h{selfObject} == $self, 'FETCH gives it');
        is_deeply([sort keys %h], [qw(other selfObject)], 'keys list it');
        %h = ();
        is_deeply([keys %h], ['selfObject'], 'a clear keeps it');
        $h{selfObject} = $other;
        delete $h{selfObject};
    });
    is_deeply(counts($self, $other), [1, 1], 'replacing or deleting it releases nothing');
    drained(sub { tie my %h, 'Dravik::Magic'; $h{selfObject} = $self });
    is($self->retainCount, 1, 'nor does the hash going');
};

subtest 'a retaining array' => sub {
    my ($a, $b) = (object(), object());
    tie my @l, 'Dravik::Magic';
    drained(sub { @l = ($a, 'text', $b); push @l, $a; unshift @l, $b, 0 });
    is_deeply(counts($a, $b), [3, 3], 'assignment, push and unshift retain');
    is(scalar(@l), 6, 'size');
    ok($l[-1] == $a && $l[0] == $b, 'negative and plain indices');
    is(join(',', map { ref($_) || $_ } @l[1 .. 3]), '0,Vantle::Object,text', 'a slice');
    drained(sub {
        my $last = pop @l;
        my $first = shift @l;
        ok($last == $a && $first == $b, 'pop and shift answer what they remove');
    });
    is_deeply(counts($a, $b), [2, 2], 'and release it');
    drained(sub {
        my @removed = splice(@l, 1, 2, $b, $b, $b);
        is(scalar(@removed), 2, 'splice answers what it removes');
        ok($removed[0] == $a, '... as handles');
    });
    is_deeply([map { ref($_) ? ($_ == $a ? 'a' : 'b') : $_ } @l], [0, qw(b b b b)],
        'splice puts the new elements in place');
    is_deeply(counts($a, $b), [1, 5], 'releasing the removed, retaining the added');
    drained(sub { $l[1] = $a; delete $l[2]; $#l = 2 });
    ok(!exists $l[2] && exists $l[1] && !exists $l[7], 'EXISTS after delete and outside');
    is_deeply(counts($a, $b), [2, 1], 'STORE, DELETE and a shorter size release');
    drained(sub { @l = () });
    is_deeply(counts($a, $b), [1, 1], 'a clear releases everything');
    drained(sub { tie my @gone, 'Dravik::Magic'; push @gone, $a, $a });
    is($a->retainCount, 1, 'an array going releases its elements');
};

subtest 'a retaining scalar' => sub {
    my ($a, $b) = (object(), object());
    drained(sub {
        tie my $s, 'Dravik::Magic';
        $s = $a;
        is($a->retainCount, 2, 'storing retains');
        ok($s == $a, 'and reads back');
        $s = $b;
        $s = $b;
    });
    is_deeply(counts($a, $b), [1, 1], 'overwriting and the scalar going release');
};

subtest 'reading an absent key or index makes nothing' => sub {
    tie my %h, 'Dravik::Magic';
    tie my @l, 'Dravik::Magic';
    my @read = ($h{absent}, $l[4]);
    is_deeply(\@read, [undef, undef], 'both read undef');
    ok(!exists $h{absent} && !%h, 'the hash stays empty');
    is(scalar(@l), 0, 'the array too');
};

# Keys of a hash walk with each, one key per call.
sub walk { my ($h) = @_; my @k; while (defined(my $k = each %$h)) { push @k, $k } [sort @k] }

subtest 'key walks' => sub {
    my (%p, %q);
    tie %p, 'Dravik::Magic';
    tie %q, 'Dravik::Magic';
    %p = map { ("p$_" => $_) } 1 .. 20;
    %q = (map({ ("q$_" => $_) } 1 .. 20), "\x{43a}\x{43b}\x{44e}\x{447}" => 1, "caf\x{e9}" => 2);
    is_deeply(walk(\%p), [sort keys %p], 'a walk sees every key once');
    tie my %r, 'Dravik::Magic';
    %r = (r => 1);
    my (@from_p, @from_q, $p_done, $q_done);
    until ($p_done && $q_done) {
        unless ($p_done) { my $k = each %p; defined $k ? push(@from_p, $k) : ($p_done = 1) }
        unless ($q_done) { my $k = each %q; defined $k ? push(@from_q, $k) : ($q_done = 1) }
        my $other = keys %r;
    }
    is_deeply([sort @from_p], [sort keys %p], 'walks of two hashes taken in turn');
    is_deeply([sort @from_q], [sort keys %q], '... each complete, UTF-8 keys included');
    while (1) {
        my $kp = each %p;
        my $kq = each %q;
        last unless defined $kp || defined $kq;
        delete $p{$kp} if defined $kp;
        delete $q{$kq} if defined $kq;
    }
    ok(!%p && !%q, 'deleting the current keys of both walks empties both');
    %p = (a => 1, b => 2);
    my $count = 0;
    while (my ($k) = each %p) { $count++ if %p }
    is($count, 2, 'a hash in boolean context does not restart its walk');
};

subtest 'a hash freed in the middle of its walk' => sub {
    tie my %other, 'Dravik::Magic';
    %other = map { ($_ => 1) } 'a' .. 'j';
    {
        tie my %h, 'Dravik::Magic';
        %h = map { ($_ => 1) } 1 .. 10;
        my $first = each %h;
        ok(defined $first, 'walk started');
    }
    is_deeply(walk(\%other), ['a' .. 'j'], 'another hash walks completely afterwards');
};

subtest 'DESTROY called by hand' => sub {
    my $a = object();
    tie my %h, 'Dravik::Magic';
    tie my @l, 'Dravik::Magic';
    drained(sub {
        $h{x} = $a;
        push @l, $a;
        Dravik::Magic::DESTROY(tied %h);
        Dravik::Magic::DESTROY(tied @l);
    });
    ok(!%h && !@l, 'empties the containers');
    drained(sub { untie %h; untie @l });
    is($a->retainCount, 1, 'so nothing is released twice');
};

subtest 'an object that refuses retain' => sub {
    my $a = object();
    tie my %h, 'Dravik::Magic';
    tie my @l, 'Dravik::Magic';
    drained(sub {
        my $pool = NSAutoreleasePool->new;
        like(error_of(sub { $h{p} = $pool }),
            qr/^Dravik::Magic::STORE: \[NSException NSGenericException\]: /, 'STORE croaks');
        like(error_of(sub { push @l, $a, $pool }), qr/^Dravik::Magic::PUSH: /, 'PUSH croaks');
        ok(!exists $h{p} && !@l, 'and nothing is stored');
        $pool->release;
    });
    is($a->retainCount, 1, 'the retains done before are undone');
};

subtest 'usage' => sub {
    tie my %h, 'Dravik::Magic';
    my $t = tied %h;
    my %usage = (
        TIEHASH   => [[], 'Usage: Dravik::Magic::TIEHASH(x)'],
        TIESCALAR => [[1, 2], 'Usage: Dravik::Magic::TIESCALAR(x)'],
        TIEARRAY  => [[], 'Usage: Dravik::Magic::TIEARRAY(x)'],
        DESTROY   => [[$t, 1], 'Usage: Dravik::Magic::DESTROY(x)'],
        FETCH     => [[$t, 1, 2], 'Usage: Dravik::Magic::FETCH(x[,elem])'],
        STORE     => [[$t], 'Usege: Dravik::Magic::STORE(x[,elem],value)'],
        EXISTS    => [[$t], 'Usege: Dravik::Magic::EXISTS(x,elem)'],
        DELETE    => [[$t, 1, 2], 'Usege: Dravik::Magic::DELETE(x,elem)'],
        FIRSTKEY  => [[$t, 1], 'Usege: Dravik::Magic::FIRSTKEY(x)'],
        NEXTKEY   => [[$t], 'Usege: Dravik::Magic::NEXTKEY(x,elem)'],
    );
    for my $sub (sort keys %usage) {
        my ($args, $text) = @{ $usage{$sub} };
        no strict 'refs';
        is(error_of(sub { &{"Dravik::Magic::$sub"}(@$args) }), $text, $sub);
    }
    is(error_of(sub { Dravik::Magic::FETCH({}, 'k') }),
        'Dravik::Magic::FETCH: not a tie object of Dravik::Magic', 'a plain reference is refused');
    is(error_of(sub { Dravik::Magic::PUSH($t, 1) }),
        'Dravik::Magic::PUSH: not a tie object of a Dravik::Magic array', 'so is a hash for PUSH');
};

SKIP: {
    skip 'perl without threads', 1 unless $Config{useithreads};
    # (No tied hash may be in the middle of a walk when the thread starts:
    # perl 5.36 corrupts the clone of such a hash's iterator, tied to any
    # class.)
    my ($status, $output) = run_perl(<<'PERL');
        use threads; use Vantle; use Dravik;
        tie my %h, 'Dravik::Magic';
        %h = (a => 1, b => 2);
        my @keys = keys %h;
        my $walked = threads->create(sub {
            tie my %t, 'Dravik::Magic';
            %t = map { ($_ => 1) } 1 .. 5;
            my @k;
            while (defined(my $k = each %t)) { push @k, $k; my @h = keys %h }
            return join ',', sort @k;
        })->join;
        print "$walked ", join(',', sort keys %h), "\n";
PERL
    is("$status $output", "0 1,2,3,4,5 a,b\n", 'a thread walks hashes of its own');
}

$_->release for @owned;
done_testing;
