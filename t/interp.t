# The interpreter object ($Vantle::interp) used from Perl: calling subs by
# name, handles of results given up, refusing what is no sub, the bound on
# Perl calling Objective-C calling Perl again, interpreters that Perl code
# makes, and the objects of the interpreters of threads.
use strict;
use warnings;
use Config;
use Test::More;
use File::Temp qw(tempfile);
use FindBin;

use lib "$FindBin::Bin/lib";
use ChildPerl qw(run_perl);

use Vantle;

my $interp = $Vantle::interp;

sub listed { join ',', @_ }

# Runs code with the C-level stderr (file descriptor 2) going to a file;
# answers what code returned and what was written there.
sub with_stderr_captured {
    my ($code) = @_;
    my ($fh, $file) = tempfile(UNLINK => 1);
    open(my $saved, '>&', \*STDERR) or die "cannot dup stderr: $!";
    open(STDERR, '>&', $fh) or die "cannot redirect stderr: $!";
    my @result = eval { $code->() };
    my $error = $@;
    open(STDERR, '>&', $saved) or die "cannot restore stderr: $!";
    die $error if $error;
    seek($fh, 0, 0);
    my $written = do { local $/; <$fh> };
    return ($written, @result);
}

# An int the called method writes its error code into.
sub error_code { Vantle::Ptr::malloc(Vantle::Ptr::new('int *')) }

sub main::greet { 'hello ' . listed(@_) }

subtest 'a sub is called by its name' => sub {
    my $code = error_code();
    my $args = $interp->eval_errorCode_('(1, 2)', undef);
    my ($written, $result) = with_stderr_captured(sub {
        $interp->call_args_errorCode_listContext_('main::greet', $args, $code, 0);
    });
    is($written, '', 'nothing is written to stderr');
    is($code->FETCH, 0, 'no error');
    is($result->stringValue, 'hello 1,2', 'the named sub ran with the arguments');
    $result->free;

    $result = $interp->call_args_errorCode_listContext_('greet', undef, $code, 0);
    is($result->stringValue, 'hello ', 'a name without package is in main');
    $result->free;

    $result = $interp->call_args_errorCode_listContext_('main::nowhere', undef, $code, 0);
    is($code->FETCH, 1, 'a name of no sub fails');
    like($result->stringValue, qr/^Undefined subroutine &main::nowhere called/,
        "with Perl's error");
    $result->free;
    $args->free;
    Vantle::Ptr::free($code);
};

# Results are given up as fast as they are made; a handle of one given up
# reads as deallocated, also once the next result is made.
subtest 'a handle of a result given up is dead' => sub {
    my $result = $interp->eval_errorCode_('41', undef);
    my $handle = $result;
    $result->free;
    my $next = $interp->eval_errorCode_('42', undef);
    ok(!$handle, 'the handle is false');
    like(Vantle::object_is_bad($handle), qr/Dealloc'ed object/, 'and names why');
    ok(!eval { $handle->intValue; 1 }, 'a message to it croaks');
    like($@, qr/Dealloc'ed object/, 'saying so');
    is($next->intValue, 42, 'the next result is its own');
    $next->free;
};

subtest 'objects of other kinds are refused, not sent messages' => sub {
    my $code = error_code();
    my $object = NSObject->alloc->init->autorelease;
    my ($written, $result) = with_stderr_captured(sub {
        $interp->call_args_errorCode_listContext_($object, undef, $code, 0);
    });
    is($written, '', 'nothing is written to stderr');
    is($code->FETCH, 1, 'the call fails');
    is($result->stringValue, "BqVantleInterp: a sub is given as a wrapper or as a name,"
        . " not as an object of another kind\n", 'saying why');
    $result->free;

    ($written, $result) = with_stderr_captured(sub {
        $interp->call_args_errorCode_listContext_('main::greet', $object, $code, 0);
    });
    is($written, '', 'arguments that are no wrapper write nothing either');
    is($result->stringValue, "BqVantleInterp: the arguments are no plain array\n",
        'and are refused');
    $result->free;
    $object->release;
    Vantle::Ptr::free($code);
};

# In a child process, since without the bound the C stack overflows.
subtest 'Perl calling Objective-C calling Perl is bounded' => sub {
    my $pid = open(my $child, '-|') // die "cannot fork: $!";
    if ($pid == 0) {
        # Vantle::EVAL recurses too, and says so under its own warnings.
        local $SIG{__WARN__} = sub { warn @_ unless $_[0] =~ /^Deep recursion/ };
        our ($depth, $error) = (0, '');
        sub again {
            $depth++;
            my $result = $interp->eval2_('again()');
            my $first = $result->fetchVarAtIndex_(0);
            if ($first) { $error = $first->descr; $first->free }
            $result->free;
        }
        again();
        print "$depth\n$error";
        exit 0;
    }
    my ($depth, $error) = split /\n/, do { local $/; <$child> }, 2;
    close $child;
    is($?, 0, 'the recursion ends without a crash');
    cmp_ok($depth // 0, '>', 1000, 'after more than a thousand levels');
    # Whichever crossing reaches the limit reports it: the eval itself, or
    # a trapped read of a wrapper that builds its result.
    like($error, qr/calls between Perl and Objective-C nesting too deep\n\z/,
        'with an error saying so');
};

# The value of Perl text evaluated by an interpreter object.
sub value_in {
    my ($perl, $text) = @_;
    my $result = $perl->eval_errorCode_listContext_($text, undef, 0);
    my $value = $result ? $result->stringValue : undef;
    $result->free if $result;
    return $value;
}

subtest 'Perl code makes an interpreter of its own' => sub {
    $main::where = 'first';
    my $other = BqVantleInterp->alloc->init;
    ok($other && !$other->isEqual_($interp), 'a second interpreter object');
    is(value_in($other, '$main::where = "second"; 6 * 7'), 42, 'it evaluates');
    is($main::where, 'first', 'in an interpreter of its own');
    is(value_in($other, '$main::where'), 'second', 'which keeps its variables');
    $other->release;
    is(value_in($interp, '2 + 2'), 4, 'this one goes on');
};

# A thread's interpreter is destroyed when the thread ends, and the next
# thread's is often made at the same address; in a child perl, since a
# thread without its object dies.
subtest 'every thread has an interpreter object of its own, also one after another' => sub {
    plan skip_all => 'perl without threads' unless $Config{useithreads};
    my ($status, $output) = run_perl(<<'PERL');
        use threads; use Scalar::Util qw(blessed); use Vantle;
        my @answers = map {
            threads->create(sub {
                my $interp = $Vantle::interp;
                return 'no object' unless blessed($interp);
                my $result = $interp->eval_errorCode_('6 * 7', undef);
                my $value = $result->intValue;
                $result->free;
                return $value;
            })->join
        } 1 .. 5;
        print "@answers\n", BqVantleInterp->interpList->count, "\n";
PERL
    is($status, 0, 'the threads end well');
    my ($answers, $count) = split /\n/, $output;
    is($answers, '42 42 42 42 42', 'each thread evaluates through its object');
    is($count, 1, 'the objects of ended threads are gone') or diag $output;
};

done_testing();
