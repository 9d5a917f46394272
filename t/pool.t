# Autorelease pools from Perl: handles of released pools, and the scoped
# pool of Vantle::autorelease_pool.
use strict;
use warnings;
use Test::More;
use FindBin;

use lib "$FindBin::Bin/lib";
use ErrorCapture qw(error_of warnings_of);

use Vantle;

# An autoreleased object that only the innermost pool keeps alive.
sub temporary { NSString->stringWithString_("temporary $_[0]") }

sub alive { !Vantle::object_is_bad($_[0]) }

# Runs Perl text in a fresh perl with this one's @INC and answers its
# output lines, or the way it ended when that was not a plain exit 0.
# Sequences that would corrupt the pools of a faulty build run this way;
# one that hangs is stopped.
sub in_child {
    my ($text) = @_;
    my $guarded = qq{\$SIG{ALRM} = sub { print "hung\\n"; exit 1 }; alarm 60;\n$text};
    open(my $from, '-|', $^X, (map { "-I$_" } @INC), '-MVantle', '-e', $guarded)
        or die "fork: $!";
    my @lines = <$from>;
    close $from;
    chomp @lines;
    return $? == 0 ? @lines : ("status $?", @lines);
}

subtest 'a pool released from Perl leaves its handles dead' => sub {
    my @report = in_child(<<'PERL');
        my $old = NSAutoreleasePool->new;
        my $same = NSAutoreleasePool->currentPool;
        $old->release;
        print Vantle::object_is_bad($old), "\n";
        print Vantle::object_is_bad($same), "\n";
        my $newer = NSAutoreleasePool->new;
        my $kept = NSString->stringWithString_("kept");
        print eval { $old->release; 1 } ? "released again\n" : $@ =~ s/ at .*/\n/sr;
        print Vantle::object_is_bad($kept) ? "newer pool drained\n" : "newer pool intact\n";
        $newer->drain;
        print Vantle::object_is_bad($newer), "\n";
        print Vantle::object_is_bad($kept), "\n";
PERL
    is_deeply(\@report, [
        "Dealloc'ed object", "Dealloc'ed object",
        'Vantle::msg_send: Dealloc\'ed object', 'newer pool intact',
        "Dealloc'ed object", "Dealloc'ed object",
    ], 'release and drain mark every handle; a second release is refused')
        or diag explain \@report;
};

subtest 'an outer pool drained by Objective-C code kills its inner pools' => sub {
    my @report = in_child(<<'PERL');
        my $outer = NSAutoreleasePool->new;
        my $inner = NSAutoreleasePool->new;
        my $scoped = Vantle::autorelease_pool();
        $outer->release;
        print Vantle::object_is_bad($inner), "\n";
        my $newer = NSAutoreleasePool->new;
        my $kept = NSString->stringWithString_("kept");
        undef $scoped;
        print eval { $inner->release; 1 } ? "released again\n" : $@ =~ s/ at .*/\n/sr;
        print Vantle::object_is_bad($kept) ? "newer pool drained\n" : "newer pool intact\n";
        $newer->release;
        print NSAutoreleasePool->currentPool->description =~ /NSAutoreleasePool/
            ? "still a pool\n" : "no pool\n";
PERL
    is_deeply(\@report, [
        "Dealloc'ed object", 'Vantle::msg_send: Dealloc\'ed object', 'newer pool intact',
        'still a pool',
    ], 'neither the inner pool nor the scoped one is released twice')
        or diag explain \@report;
};

subtest 'a scoped pool drains when it goes out of scope' => sub {
    my ($inside, $after_die);
    {
        my $pool = Vantle::autorelease_pool();
        is(ref($pool), 'Vantle::AutoreleasePool', 'a scoped pool');
        $inside = temporary(1);
        ok(alive($inside), 'objects live while it is in scope');
    }
    is(Vantle::object_is_bad($inside), "Dealloc'ed object", 'and die when it goes');

    eval {
        my $pool = Vantle::autorelease_pool();
        $after_die = temporary(2);
        die "leaving\n";
    };
    is($@, "leaving\n", 'a Perl error leaves the scope');
    ok(!alive($after_die), 'and drains the pool on its way');

    my $pool = Vantle::autorelease_pool();
    my $early = temporary(3);
    $pool->drain;
    ok(!alive($early), 'drain empties it at once');
    my $later = temporary(4);
    $pool->drain;
    undef $pool;
    ok(alive($later), 'after that the pool is gone and nothing else is drained');
};

subtest 'scoped pools nest' => sub {
    my ($outer_object, $inner_object);
    my $outer = Vantle::autorelease_pool();
    $outer_object = temporary('outer');
    {
        my $inner = Vantle::autorelease_pool();
        $inner_object = temporary('inner');
    }
    ok(!alive($inner_object), 'the inner pool drains alone');
    ok(alive($outer_object), 'the outer one keeps its objects');
    my $inner = Vantle::autorelease_pool();
    $inner_object = temporary('inner again');
    undef $outer;
    ok(!alive($outer_object) && !alive($inner_object), 'an outer pool drains the inner one too');
    my $kept;
    {
        my $newer = Vantle::autorelease_pool();
        $kept = temporary('newer');
        undef $inner;
        ok(alive($kept), 'the inner one, dropped later, releases no newer pool');
    }
    ok(!alive($kept), 'which drains at the end of its own scope');
};

subtest 'misuse' => sub {
    is(error_of(sub { Vantle::autorelease_pool(); 1 }),
       'Vantle::autorelease_pool: useless in void context, the pool would drain at once',
       'a pool nobody keeps');
    is(error_of(sub { my $p = Vantle::autorelease_pool(1) }),
       'Usage: Vantle::autorelease_pool()', 'arguments');

    my $object = NSObject->new->autorelease;
    my $fake = \(my $copy = $object);
    bless $fake, 'Vantle::AutoreleasePool';
    is_deeply([warnings_of(sub { undef $fake })], [], 'a made-up pool of another object');
    ok(alive($object), 'never releases that object');
    $object->release;
    is(error_of(sub { bless(\my $x, 'Vantle::AutoreleasePool')->drain }), undef,
       'one of nothing drains nothing');

    my $pool = Vantle::autorelease_pool();
    ok(!eval { ${$pool} = 1; 1 }, 'the pool inside cannot be swapped');
    like($@, qr/^Modification of a read-only value attempted/, "Perl's read-only error");
};

done_testing();
