# HttpLoad::Server -- a Starman server of a PSGI file on a free loopback
# port, started and stopped by the load benchmark (bench/http_load.pl),
# and the resident memory of its processes.
#
#   my $server = HttpLoad::Server->start(psgi => $file, workers => 2,
#       env => { NAME => 'value' }, lib => [@dirs], log => $file);
#   $server->port; $server->memory_kb; $server->worker_pids;
#   $server->stop;
#
# The server runs in a process group of its own, so stop (and
# HttpLoad::Server::stop_all, for the benchmark's END block and signal
# handlers) ends the master and every worker it forked.
package HttpLoad::Server;
use strict;
use warnings;
use IO::Socket::INET;
use POSIX qw(WNOHANG);
use Time::HiRes qw(sleep time);

my %running;	# pid => server, of every server not yet stopped

# start OPTIONS --
#	Starts starman --preload-app on 127.0.0.1 and a free port and waits
#	until it accepts connections and all its workers run.  OPTIONS: psgi
#	(the file), workers, env (variables for the server), lib (directories
#	put first in its PERL5LIB), log (where its output goes).  Dies, with
#	the end of the log, when it does not come up within a minute.
sub start {
    my ($class, %option) = @_;
    my $starman = find_program('starman')
	or die "starman is not installed (sh scripts/setup.sh installs it)\n";
    my $port = free_port();
    my @command = ($^X, $starman, '--preload-app', '--workers', $option{workers},
	'--listen', "127.0.0.1:$port",
	# No access log, lint or stack traces: the server as deployed.
	'--env', 'deployment',
	# Starman replaces a worker after this many connections; a
	# replaced worker would lose its sessions in the middle of a run.
	'--max-requests', 1_000_000_000,
	$option{psgi});
    my $pid = fork // die "cannot fork: $!\n";
    if ($pid == 0) {
	$SIG{$_} = 'DEFAULT' for qw(INT TERM HUP);
	setpgrp(0, 0);
	$ENV{$_} = $option{env}{$_} for keys %{ $option{env} || {} };
	$ENV{PERL5LIB} = join ':', @{ $option{lib} || [] }, grep { defined } $ENV{PERL5LIB};
	open(STDIN, '<', '/dev/null');
	open(STDOUT, '>', $option{log}) or POSIX::_exit(126);
	open(STDERR, '>&', \*STDOUT);
	{ exec @command };
	print STDERR "cannot run @command: $!\n";
	POSIX::_exit(127);
    }
    my $self = bless { pid => $pid, port => $port, workers => $option{workers},
	log => $option{log} }, $class;
    $running{$pid} = $self;
    $self->_wait_until_ready;
    return $self;
}

sub port { $_[0]{port} }
sub pid { $_[0]{pid} }

# worker_pids --
#	The pids of the master's children (its workers), from /proc.
sub worker_pids {
    my ($self) = @_;
    my @children;
    for my $stat (glob '/proc/[0-9]*/stat') {
	open(my $in, '<', $stat) or next;	# gone meanwhile
	my $line = <$in> // next;
	# pid (comm) state ppid ...; comm may hold spaces and parentheses.
	my ($pid, $rest) = $line =~ /^(\d+) \(.*\) (.*)$/s or next;
	my (undef, $ppid) = split ' ', $rest;
	push @children, $pid if $ppid == $self->{pid};
    }
    return sort { $a <=> $b } @children;
}

# memory_kb --
#	The sum of VmRSS of the master and its workers, in kB.
sub memory_kb {
    my ($self) = @_;
    my $sum = 0;
    $sum += rss_kb($_) // 0 for $self->{pid}, $self->worker_pids;
    return $sum;
}

# rss_kb PID --
#	VmRSS of a process in kB; undef when it is gone.
sub rss_kb {
    my ($pid) = @_;
    open(my $status, '<', "/proc/$pid/status") or return undef;
    while (my $line = <$status>) {
	return $1 if $line =~ /^VmRSS:\s+(\d+)\s+kB/;
    }
    return undef;
}

# stop --
#	Ends the master and its workers (TERM, then KILL after 10 s), reaps
#	the master and waits until every worker has ended.  Does nothing the
#	second time.
sub stop {
    my ($self) = @_;
    my $pid = delete $running{$self->{pid}} ? $self->{pid} : return;
    my @workers = $self->worker_pids;
    kill TERM => -$pid;
    my $deadline = time + 10;
    my $reaped = 0;
    while (1) {
	$reaped ||= waitpid($pid, WNOHANG) == $pid;
	last if $reaped && !grep { !process_ended($_) } @workers;
	if (time > $deadline) {
	    kill KILL => -$pid;
	    waitpid($pid, 0) unless $reaped;
	    last;
	}
	sleep 0.02;
    }
}

# process_ended PID --
#	Whether the process is gone or a zombie (a worker whose master
#	ended is reparented and may stay a zombie a while).
sub process_ended {
    my ($pid) = @_;
    open(my $in, '<', "/proc/$pid/stat") or return 1;
    my $line = <$in> // return 1;
    return $line =~ /\) Z /;
}

# stop_all --
#	Stops every server started and not yet stopped.
sub stop_all {
    $_->stop for values %running;
}

# log_tail LINES --
#	The last LINES lines of the server's output.
sub log_tail {
    my ($self, $count) = @_;
    open(my $in, '<', $self->{log}) or return '';
    my @lines = <$in>;
    splice @lines, 0, -$count if @lines > $count;
    return join '', @lines;
}

sub _wait_until_ready {
    my ($self) = @_;
    my $deadline = time + 60;
    my $why;
    while (time < $deadline) {
	if (waitpid($self->{pid}, WNOHANG) == $self->{pid}) {
	    delete $running{$self->{pid}};
	    $why = 'it exited with status ' . ($? >> 8);
	    last;
	}
	my @workers = $self->worker_pids;
	if (@workers >= $self->{workers}
	    && IO::Socket::INET->new(PeerAddr => '127.0.0.1', PeerPort => $self->{port}, Proto => 'tcp')) {
	    return;
	}
	sleep 0.05;
    }
    $why //= 'it did not accept connections within a minute';
    $self->stop;
    die "the server did not start: $why; its output ended with:\n" . $self->log_tail(20);
}

# free_port --
#	A TCP port on 127.0.0.1 that nothing listens on now.
sub free_port {
    my $socket = IO::Socket::INET->new(LocalAddr => '127.0.0.1', LocalPort => 0, Proto => 'tcp',
	Listen => 1, ReuseAddr => 1) or die "cannot find a free port: $@\n";
    my $port = $socket->sockport;
    close $socket;
    return $port;
}

# find_program NAME --
#	The path of NAME on PATH, or undef.
sub find_program {
    my ($name) = @_;
    for my $dir (split /:/, $ENV{PATH} // '') {
	return "$dir/$name" if length $dir && -f "$dir/$name" && -x _;
    }
    return undef;
}

1;
