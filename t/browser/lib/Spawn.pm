package Spawn;

# Child processes of a test that must not outlive it: each runs in a
# process group of its own, so stopping it also stops whatever it
# started (a browser's renderer and helper processes).

use strict;
use warnings;
use Exporter 'import';
use POSIX ();
use Time::HiRes ();

our @EXPORT_OK = qw(spawn stop running);

# spawn(CODE) --
#	Forks a child that leads a new process group and runs CODE (with
#	the default signal handlers), which execs or returns; a child that
#	returns or dies exits at once (status 0 or 1) without running the
#	parent's END blocks.  The child ends when the parent does.  Answers
#	the child's process id.
sub spawn {
    my ($code) = @_;
    my $parent = $$;
    my $pid = fork // die "fork: $!";
    return $pid if $pid;
    my $status = 1;
    eval {
        POSIX::setpgid(0, 0) or die "setpgid: $!";
        _end_with_parent($parent);
        $SIG{$_} = 'DEFAULT' for qw(INT TERM HUP ALRM);    # not the test's handlers
        $code->();
        $status = 0;
        1;
    } or print STDERR "child $$: $@";
    POSIX::_exit($status);
}

# _end_with_parent(PARENT) --
#	Asks Linux to send this process SIGTERM when its parent ends (also
#	by SIGKILL, when no END block runs); the request outlives exec.
#	Exits at once if PARENT has already gone.  Elsewhere does nothing.
sub _end_with_parent {
    my ($parent) = @_;
    return unless $^O eq 'linux' && eval { require 'syscall.ph'; 1 };
    my $PR_SET_PDEATHSIG = 1;
    syscall(SYS_prctl(), $PR_SET_PDEATHSIG, POSIX::SIGTERM()) == 0 or die "prctl: $!";
    POSIX::_exit(1) if getppid() != $parent;
    return;
}

# running(PID) --
#	Answers whether the child PID has not exited yet (reaping it if it
#	has; its status is left in $?).
sub running {
    my ($pid) = @_;
    return waitpid($pid, POSIX::WNOHANG()) == 0;
}

# stop(PID, GRACE) --
#	Ends the process group led by the child PID: SIGTERM, then SIGKILL
#	to whatever is left after GRACE seconds (default 5).  Waits for the
#	child and answers its wait status (undef if it was reaped before).
sub stop {
    my ($pid, $grace) = @_;
    return undef unless $pid;
    my $deadline = Time::HiRes::time() + ($grace // 5);
    kill TERM => -$pid or kill TERM => $pid;
    while (Time::HiRes::time() < $deadline) {
        my $done = waitpid($pid, POSIX::WNOHANG());
        if ($done != 0) {
            kill KILL => -$pid;    # helpers the leader left behind
            return $done == $pid ? $? : undef;
        }
        Time::HiRes::sleep(0.05);
    }
    kill KILL => -$pid or kill KILL => $pid;
    return waitpid($pid, 0) == $pid ? $? : undef;
}

1;
