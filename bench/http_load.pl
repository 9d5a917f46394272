#!/usr/bin/perl
# The to-do example (examples/todo/app.psgi) under load over HTTP: served
# by Starman with one worker per core on a free loopback port, while
# forked clients on the same machine send a bounded number of requests
# as users of a browser would (each with its own session: the list, items
# added through the form and removed by their links).  Prints requests
# per second and latency percentiles (p50, p99), each next to the same
# figure for a minimal PSGI "hello" application served the same way: the
# ratio is what the framework costs per request.
#
# Three servers run side by side: hello, the example as app.psgi serves
# it, and the example with a low session bound.  After their warm-ups
# each run is taken in rounds, the sides in turn, so a burst of load
# elsewhere on the machine favours none; req/s is the fastest round's,
# the percentiles are over every request.  A client closes its
# connection after each visit (HttpLoad::Clients tells why), so the p99
# is mostly the wait of a visit's first request for a free worker.
#
#   perl -Mblib=build bench/http_load.pl [options]
#
#   --requests=N       requests of each measured run (default 20000)
#   --clients=N        concurrent clients (default 16)
#   --workers=N        Starman workers (default: one per core)
#   --visit=N          requests a client sends over one connection before
#                      closing it (default 10)
#   --warmup=N         requests before the first memory measurement
#                      (default: a tenth of --requests, at least 500)
#   --fresh=N          requests of the run in which every visit is a new
#                      user with a new session (default 6000)
#   --session-limit=N  the session bound of that run (default 50)
#   --tolerance=PCT    how far memory may move after the warm-up (default 10)
#   --quick            a smoke run: 2000 requests, 500 of warm-up, 1000
#                      fresh (options given explicitly still win)
#   --ratios           also print the RATIO lines bench/run collects
#                      (format in bench/bench_report.h)
#   --build-dir=DIR    the build whose modules the server loads, when not
#                      run with -Mblib (default: build, beside bench/)
#
# It checks, and exits non-zero printing why when one fails:
#   - no request failed: every status as expected, every item added seen
#     on the page that answered, every item removed gone from it;
#   - the server's memory (VmRSS of the Starman master and its workers)
#     after the run is within the tolerance of its memory after the
#     warm-up;
#   - with the session bound set low, memory stays as flat while new
#     users keep coming, each making a session.
# There are no timing checks: the figures are for reading.
use strict;
use warnings;
use FindBin ();
use lib "$FindBin::Bin";
use Cwd qw(abs_path);
use File::Basename qw(dirname);
use File::Temp ();
use Getopt::Long qw(GetOptions);
use Time::HiRes qw(sleep);
use HttpLoad::Server;
use HttpLoad::Clients;

my $root = dirname(abs_path($FindBin::Bin));
my $MAIN_PID = $$;
my $ROUNDS = 5;	# each run is taken in this many rounds, the sides in turn

my %option = (clients => 16, visit => 10, 'session-limit' => 50, tolerance => 10,
    'build-dir' => "$root/build");
GetOptions(\%option, 'requests=i', 'clients=i', 'workers=i', 'visit=i', 'warmup=i', 'fresh=i',
    'session-limit=i', 'tolerance=f', 'quick', 'ratios', 'build-dir=s')
    or die "usage: $0 [--requests=N] [--clients=N] [--workers=N] [--visit=N] [--warmup=N]"
	. " [--fresh=N] [--session-limit=N] [--tolerance=PCT] [--quick] [--ratios] [--build-dir=DIR]\n";
$option{requests} //= $option{quick} ? 2000 : 20000;
$option{warmup} //= $option{quick} ? 500 : max(500, int($option{requests} / 10));
$option{fresh} //= $option{quick} ? 1000 : 6000;
$option{workers} //= cores();
for my $name (qw(requests clients workers visit warmup fresh session-limit)) {
    die "$0: --$name must be a positive integer\n" unless $option{$name} > 0;
}
die "$0: --visit must be at least 2 (a page and its stylesheet)\n" if $option{visit} < 2;
die "$0: --tolerance must be a positive percentage\n" unless $option{tolerance} > 0;

$SIG{$_} = sub { die "$0: interrupted by SIG$_[0]\n" } for qw(INT TERM HUP);
END {
    if ($$ == $MAIN_PID) {
	HttpLoad::Clients::stop_all();
	HttpLoad::Server::stop_all();
    }
}

my $logs = File::Temp::tempdir('http-load-logs-XXXXXX', TMPDIR => 1, CLEANUP => 1);
my @failures;	# what failed, for the verdict

sub max { $_[0] > $_[1] ? $_[0] : $_[1] }
sub min { $_[0] < $_[1] ? $_[0] : $_[1] }

# cores --
#	Processors this process may run on.
sub cores {
    my $count = `nproc 2>/dev/null` // '';
    return $count =~ /^(\d+)/ ? $1 : 1;
}

# server_lib --
#	The directories the server needs first on its @INC: the build's
#	blib (from -Mblib, else --build-dir).
sub server_lib {
    my @blib = grep { m{/blib/(?:lib|arch)$} } @INC;
    return @blib if @blib;
    my $blib = abs_path("$option{'build-dir'}/blib")
	// die "$0: no build in $option{'build-dir'}; build first (sh scripts/setup.sh)\n";
    return ("$blib/lib", "$blib/arch");
}

# start_server NAME, ENV --
#	Starman serving bench/http_load.psgi with ENV (see there).
sub start_server {
    my ($name, %env) = @_;
    return HttpLoad::Server->start(psgi => "$FindBin::Bin/http_load.psgi",
	workers => $option{workers}, env => \%env, lib => [server_lib()],
	log => "$logs/$name.log");
}

# load SERVER, BEHAVIOUR, REQUESTS, VISIT, USERS --
#	One run of the clients: HttpLoad::Clients::run's result, with the
#	server's name added.
sub load {
    my ($server, $behaviour, $requests, $visit, $users) = @_;
    my $result = HttpLoad::Clients::run(port => $server->port, behaviour => $behaviour,
	requests => $requests, clients => $option{clients}, visit => $visit, users => $users);
    $result->{server} = $server;
    return $result;
}

# summary WHAT, RUNS --
#	One side's figures from its rounds: requests and failures in all,
#	the rate of its fastest round, and p50 and p99 over every request.
#	Failures are recorded, with the end of the server's output.
sub summary {
    my ($what, @runs) = @_;
    my %sum = (requests => 0, failed => 0, rate => 0);
    my (@latencies, @reasons);
    for my $run (@runs) {
	$sum{requests} += $run->{requests};
	$sum{failed} += $run->{failed};
	push @latencies, @{ $run->{latencies} };
	push @reasons, @{ $run->{failures} };
	my $rate = $run->{requests} / ($run->{seconds} || 1e-9);
	$sum{rate} = $rate if $rate > $sum{rate};
    }
    if ($sum{failed}) {
	splice @reasons, 10 if @reasons > 10;
	push @failures, "$what: $sum{failed} of $sum{requests} requests failed:\n"
	    . join('', map { "    $_" } @reasons)
	    . "  the server's output ended with:\n" . $runs[-1]{server}->log_tail(10);
    }
    @latencies = sort { $a <=> $b } @latencies;
    $sum{p50} = HttpLoad::Clients::percentile(0.50, @latencies) // 0;
    $sum{p99} = HttpLoad::Clients::percentile(0.99, @latencies) // 0;
    return \%sum;
}

# memory SERVER --
#	The server's memory in kB once its workers are idle.
sub memory {
    my ($server) = @_;
    sleep 0.2;
    return $server->memory_kb;
}

# check_memory WHAT, BEFORE, AFTER --
#	Records a failure when AFTER is more than the tolerance away from
#	BEFORE; answers [BEFORE, AFTER, the change in percent].
sub check_memory {
    my ($what, $before, $after) = @_;
    my $change = ($after - $before) * 100 / $before;
    push @failures, sprintf("%s: the server's memory went from %d kB to %d kB (%+.1f%%, more than"
	. " %g%%)", $what, $before, $after, $change, $option{tolerance})
	if abs($change) > $option{tolerance};
    return [$before, $after, $change];
}

# share TOTAL, ROUND --
#	ROUND's part (from 0) of TOTAL requests shared out over the rounds.
sub share {
    my ($total, $round) = @_;
    return int($total / $ROUNDS) + ($round < $total % $ROUNDS ? 1 : 0);
}

# measure --
#	Serves the hello application, the to-do example as the user serves
#	it, and the to-do example with a low session bound, side by side;
#	warms each up, then runs the rounds, each side in turn, so a burst
#	of load elsewhere on the machine favours none.  The to-do users keep
#	their sessions and lists from the warm-up through every round; in
#	the other to-do runs every visit is a new user, and their warm-up
#	fills every worker's store to its bound (a new user reaches either
#	worker with two requests), or is as long as those runs.  Answers the
#	summaries and the memory figures.
sub measure {
    my %server = (
	hello => start_server('hello', HTTP_LOAD_APP => 'hello'),
	todo => start_server('todo', HTTP_LOAD_APP => 'todo'),
	fresh => start_server('fresh', HTTP_LOAD_APP => 'todo',
	    HTTP_LOAD_SESSION_LIMIT => $option{'session-limit'}),
    );
    load($server{hello}, 'hello', $option{warmup}, $option{visit});
    my $users = load($server{todo}, 'todo', $option{warmup}, $option{visit})->{users};
    my $fill = 4 * $option{'session-limit'} * $option{workers};
    load($server{fresh}, 'fresh', max($option{warmup}, min($fill, $option{fresh})), 2);
    my %before = map { $_ => memory($server{$_}) } qw(todo fresh);

    my %runs;
    for my $round (0 .. $ROUNDS - 1) {
	my $requests = share($option{requests}, $round);
	my $fresh = share($option{fresh}, $round);
	push @{ $runs{hello} }, load($server{hello}, 'hello', $requests, $option{visit});
	push @{ $runs{todo} }, load($server{todo}, 'todo', $requests, $option{visit}, $users);
	$users = $runs{todo}[-1]{users};
	push @{ $runs{hello2} }, load($server{hello}, 'hello', $fresh, 2);
	push @{ $runs{fresh} }, load($server{fresh}, 'fresh', $fresh, 2);
    }
    my %after = map { $_ => memory($server{$_}) } qw(todo fresh);
    $_->stop for values %server;

    return {
	hello => summary('hello PSGI app', @{ $runs{hello} }),
	todo => summary('todo example', @{ $runs{todo} }),
	hello2 => summary('hello PSGI app, visits of 2', @{ $runs{hello2} }),
	fresh => summary('todo example, a new user per visit', @{ $runs{fresh} }),
	todo_memory => check_memory("todo example, $option{requests} requests",
	    $before{todo}, $after{todo}),
	fresh_memory => check_memory("session bound $option{'session-limit'}, new users",
	    $before{fresh}, $after{fresh}),
    };
}

# print_report FIGURES --
#	The benchmark's own table and the memory figures.
sub print_report {
    my ($figures) = @_;
    printf "Starman --preload-app with %d worker%s (the machine has %d core%s: one worker per core),"
	. " %d clients on the same machine\n", $option{workers}, $option{workers} == 1 ? '' : 's',
	cores(), cores() == 1 ? '' : 's', $option{clients};
    printf "a to-do user's visit: up to %d requests over one keep-alive connection"
	. " (the stylesheet, the list, items added by form posts and removed by links);"
	. " a new user's: the list and one item added\n", $option{visit};
    print "each run in $ROUNDS rounds taken in turn; req/s of the fastest round,"
	. " percentiles over all requests\n\n";
    my @rows = (
	['hello PSGI app', $figures->{hello}],
	['todo example, one session per user', $figures->{todo}],
	['hello PSGI app, visits of 2', $figures->{hello2}],
	['todo example, a new user per visit', $figures->{fresh}],
    );
    printf "%-36s %9s %7s %9s %9s %9s\n", 'application', 'requests', 'failed', 'req/s', 'p50 ms',
	'p99 ms';
    printf "%-36s %9d %7d %9.0f %9.2f %9.2f\n", $_->[0], @{ $_->[1] }{qw(requests failed rate)},
	$_->[1]{p50} * 1e3, $_->[1]{p99} * 1e3 for @rows;
    my ($todo, $fresh) = @$figures{qw(todo_memory fresh_memory)};
    print "\nserver memory (VmRSS of the master and its workers):\n";
    printf "  todo example:       %7d kB after %d warm-up requests, %7d kB after %d more (%+.1f%%)\n",
	$todo->[0], $option{warmup}, $todo->[1], $option{requests}, $todo->[2];
    printf "  session bound %-5d %7d kB with the stores full,  %7d kB after %d new users (%+.1f%%)\n",
	$option{'session-limit'}, $fresh->[0], $fresh->[1], int($option{fresh} / 2), $fresh->[2];
    printf "  (a change of at most %g%% passes)\n", $option{tolerance};
}

# print_ratios FIGURES --
#	The RATIO lines: each to-do figure against the hello application's
#	in the same kind of visits.
sub print_ratios {
    my ($figures) = @_;
    my ($hello, $todo, $hello2, $fresh) = @$figures{qw(hello todo hello2 fresh)};
    my $line = sub {
	my ($case, $baseline, $baselineSeconds, $measuredSeconds) = @_;
	printf "RATIO\thttp_load.pl\t%s\t%s\t%.1f\t%.1f\t%.3f\n", $case, $baseline,
	    $baselineSeconds * 1e9, $measuredSeconds * 1e9, $measuredSeconds / $baselineSeconds;
    };
    my $clients = "$option{clients} clients, $option{workers} workers";
    $line->(sprintf('todo over HTTP, %s: 1/throughput (%.0f req/s)', $clients, $todo->{rate}),
	sprintf('hello PSGI app (%.0f req/s)', $hello->{rate}), 1 / $hello->{rate}, 1 / $todo->{rate});
    $line->('todo over HTTP: p50 latency', 'hello PSGI app: p50', $hello->{p50}, $todo->{p50});
    $line->('todo over HTTP: p99 latency', 'hello PSGI app: p99', $hello->{p99}, $todo->{p99});
    $line->(sprintf('todo over HTTP, a new session per visit: 1/throughput (%.0f req/s)',
	    $fresh->{rate}),
	sprintf('hello PSGI app (%.0f req/s)', $hello2->{rate}), 1 / $hello2->{rate}, 1 / $fresh->{rate});
}

$| = 1;
binmode $_, ':encoding(UTF-8)' for \*STDOUT, \*STDERR;
my $figures = measure();
print_report($figures);
print_ratios($figures) if $option{ratios};
if (@failures) {
    print STDERR "\nFAIL:\n", map { "  $_\n" } @failures;
    exit 1;
}
print "\nresult: PASS (no request failed; memory within $option{tolerance}%)\n";
exit 0;
