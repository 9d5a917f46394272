# HttpLoad::Clients -- the load benchmark's clients (bench/http_load.pl):
# forked processes that each send their share of a bounded number of
# requests to a loopback server, as users of a browser would, check
# every answer, and report every request's latency.
#
#   my $result = HttpLoad::Clients::run(port => $port, behaviour => 'todo',
#       requests => 20000, clients => 16, visit => 10, users => $previous->{users});
#   $result->{latencies}   every request's seconds
#   $result->{requests}    how many were sent
#   $result->{seconds}     from the start to the last answer
#   $result->{failed}      how many failed, and {failures} the first reasons
#   $result->{users}       each client's user (its session cookies and
#                          items added so far), to go on with in a next run
#
# A client sends its requests in visits: a visit opens a connection,
# sends up to `visit` requests over it (HTTP/1.1 keep-alive) and closes
# it.  A Starman worker serves one connection at a time until it closes,
# so clients that never closed theirs would keep the others waiting for
# the whole run; closing after a visit lets every client in, as browsers
# close idle connections between page views.
#
# Behaviours:
#   hello  GET / and a form POST to / in turn; the answer must be "Hello".
#   todo   the to-do example as one user: each visit first fetches
#          /style.css, which carries no cookie and makes no session, to
#          learn which worker the connection reached (X-Bench-Worker);
#          then the list with the client's cookie for that worker (a
#          client keeps one session per worker, as sessions live in the
#          worker that made them); then items added through the form (its
#          action and field names read from the page, as a browser reads
#          them), each of which must be on the page that answers, and
#          removed again by their "remove" links, each of which must be
#          gone from the answer, so the list stays short.
#   fresh  the to-do example as a new user per visit: the list without a
#          cookie, which must make a new session, then one item added.
package HttpLoad::Clients;
use strict;
use warnings;
use POSIX ();
use Storable ();
use File::Temp ();
use Time::HiRes qw(time);
use HttpLoad::Connection;

our $MAX_ITEMS = 3;		# a todo client's list stays at most this long
our $REASONS_KEPT = 5;		# failure reasons each client reports

my %BEHAVIOUR = (hello => \&visit_hello, todo => \&visit_todo, fresh => \&visit_fresh);
my %running;	# pids of the clients of the run under way

# run OPTIONS --
#	Forks the clients, starts them together, waits for them all and
#	merges what they report (see the top of this file).  OPTIONS: port,
#	behaviour, requests (in all, shared out evenly), clients, visit
#	(requests per connection), users (each client's user to go on
#	with, from a previous run's result; optional).  Dies for an unknown
#	behaviour or a client that could not report.
sub run {
    my (%option) = @_;
    my $visit = $BEHAVIOUR{ $option{behaviour} }
	or die "unknown client behaviour $option{behaviour}\n";
    my $dir = File::Temp::tempdir('http-load-XXXXXX', TMPDIR => 1, CLEANUP => 1);
    pipe(my $gate, my $opener) or die "cannot make a pipe: $!\n";
    for my $n (0 .. $option{clients} - 1) {
	my $share = int($option{requests} / $option{clients})
	    + ($n < $option{requests} % $option{clients} ? 1 : 0);
	my $pid = fork // die "cannot fork a client: $!\n";
	if ($pid == 0) {
	    # A client never returns into its parent's code.
	    $SIG{$_} = 'DEFAULT' for qw(INT TERM HUP);
	    my $ok = eval {
		close $opener;
		# Waits until the parent opens the gate (closes its end).
		sysread($gate, my $byte, 1);
		my $client = new_client($n, $option{port}, $option{visit},
		    $option{users} ? $option{users}[$n] : undef);
		run_client($client, $visit, $share);
		Storable::nstore($client->{report}, "$dir/client$n");
		1;
	    };
	    print STDERR "client $n: $@" unless $ok;
	    POSIX::_exit($ok ? 0 : 1);
	}
	$running{$pid} = 1;
    }
    close $gate;
    my $start = time;
    close $opener;
    for my $pid (sort keys %running) {
	waitpid($pid, 0);
	delete $running{$pid};
    }
    return merge_reports($dir, $option{clients}, $start);
}

# stop_all --
#	Kills the clients of a run that was interrupted.
sub stop_all {
    kill KILL => keys %running;
    waitpid($_, 0) for keys %running;
    %running = ();
}

# new_client NUMBER, PORT, VISIT, USER --
#	A client's state: its number, the server, the requests per visit,
#	the user it goes on with (cookies by worker pid, count of items
#	added; a new user for undef), what it reports.
sub new_client {
    my ($n, $port, $visit, $user) = @_;
    return { n => $n, port => $port, visit => $visit, jar => { %{ $user ? $user->{jar} : {} } },
	added => $user ? $user->{added} : 0,
	report => { sent => 0, latencies => [], failed => 0, failures => [], end => time } };
}

# run_client CLIENT, VISIT, SHARE --
#	Runs visits until SHARE requests are sent.  A failing request ends
#	its visit and counts as failed; the client goes on with a new visit,
#	unless the server let a request go unanswered for the connection's
#	timeout: then it stops, as the rest would only wait as long.
sub run_client {
    my ($client, $visit, $share) = @_;
    my $report = $client->{report};
    while ($report->{sent} < $share) {
	my $left = $share - $report->{sent};
	my $connection = HttpLoad::Connection->new($client->{port});
	my $ok = eval {
	    $visit->($client, $connection, $left < $client->{visit} ? $left : $client->{visit});
	    1;
	};
	$connection->close;
	next if $ok;
	$report->{failed}++;
	push @{ $report->{failures} }, "client $client->{n}: $@"
	    if @{ $report->{failures} } < $REASONS_KEPT;
	last if $@ =~ $HttpLoad::Connection::TIMED_OUT;
    }
    $report->{user} = { jar => $client->{jar}, added => $client->{added} };
}

# send_request CLIENT, CONNECTION, METHOD, PATH, OPTIONS --
#	One request (see HttpLoad::Connection::request), counted as sent;
#	its latency is recorded once answered.  Dies unless the status is
#	200.
sub send_request {
    my ($client, $connection, $method, $path, %option) = @_;
    $client->{report}{sent}++;
    my $response = $connection->request($method, $path, %option);
    push @{ $client->{report}{latencies} }, $response->{seconds};
    $client->{report}{end} = time;
    die "$method $path answered $response->{status}\n" unless $response->{status} == 200;
    return $response;
}

sub visit_hello {
    my ($client, $connection, $count) = @_;
    for my $n (1 .. $count) {
	my $response = $n % 2
	    ? send_request($client, $connection, GET => '/')
	    : send_request($client, $connection, POST => '/', form => { f0 => "item $n", a1 => 'Add' });
	die "the hello application answered \"$response->{body}\"\n"
	    unless $response->{body} eq "Hello\n";
    }
}

sub visit_todo {
    my ($client, $connection, $count) = @_;
    my $style = send_request($client, $connection, GET => '/style.css');
    die "/style.css came as $style->{headers}{'content-type'}\n"
	unless ($style->{headers}{'content-type'} // '') =~ m{^text/css};
    my $worker = $style->{headers}{'x-bench-worker'} // die "no X-Bench-Worker header\n";
    return if $count == 1;
    my $page = todo_page($client, $connection, $worker, GET => '/');
    for (3 .. $count) {
	my @items = list_items($page);
	$page = @items >= $MAX_ITEMS
	    ? remove_item($client, $connection, $worker, $page, $items[0])
	    : add_item($client, $connection, $worker, $page);
    }
}

sub visit_fresh {
    my ($client, $connection, $count) = @_;
    my $list = send_request($client, $connection, GET => '/');
    my $session = $list->{cookies}{ry_session}
	// die "a request without a cookie got no ry_session cookie\n";
    my $worker = $list->{headers}{'x-bench-worker'} // die "no X-Bench-Worker header\n";
    # A new user: the session just made is the only one it knows.
    $client->{jar} = { $worker => $session };
    add_item($client, $connection, $worker, $list->{body}) if $count > 1;
}

# todo_page CLIENT, CONNECTION, WORKER, METHOD, PATH, OPTIONS --
#	A request of the to-do example with the client's cookie for WORKER,
#	keeping the session cookie the answer sets; answers the page.  Dies
#	unless the answer is an HTML page.
sub todo_page {
    my ($client, $connection, $worker, $method, $path, %option) = @_;
    my $cookie = $client->{jar}{$worker};
    my $response = send_request($client, $connection, $method, $path, %option,
	defined $cookie ? (cookie => "ry_session=$cookie") : ());
    die "$method $path answered from worker $response->{headers}{'x-bench-worker'}, not $worker\n"
	unless ($response->{headers}{'x-bench-worker'} // '') eq $worker;
    die "$method $path answered $response->{headers}{'content-type'}, not an HTML page\n"
	unless ($response->{headers}{'content-type'} // '') =~ m{^text/html};
    $client->{jar}{$worker} = $response->{cookies}{ry_session}
	if defined $response->{cookies}{ry_session};
    return $response->{body};
}

# add_item CLIENT, CONNECTION, WORKER, PAGE --
#	Fills the form of PAGE with a new item (every third one urgent, every
#	fifth with text beyond ASCII) and posts it with the submit button, as
#	a browser does; answers the new page, which must list the item.
sub add_item {
    my ($client, $connection, $worker, $page) = @_;
    my $form = parse_form($page);
    my $n = ++$client->{added};
    my $title = "c$client->{n} item $n" . ($n % 5 == 0 ? " Gr\x{fc}\x{df}e \x{2713}" : '');
    my %fields = ($form->{text} => $title, $form->{submit} => $form->{submit_value});
    $fields{ $form->{checkbox} } = $form->{checkbox_value} if $n % 3 == 0 && $form->{checkbox};
    my $next = todo_page($client, $connection, $worker, POST => $form->{action}, form => \%fields);
    die "the item \"$title\" added by POST $form->{action} is not on the page that answered\n"
	unless grep { $_->{title} eq $title } list_items($next);
    return $next;
}

# remove_item CLIENT, CONNECTION, WORKER, PAGE, ITEM --
#	Follows ITEM's "remove" link; answers the new page, which must no
#	longer list the item.
sub remove_item {
    my ($client, $connection, $worker, $page, $item) = @_;
    my $next = todo_page($client, $connection, $worker, GET => $item->{remove});
    die "the item \"$item->{title}\" removed by GET $item->{remove} is still on the page\n"
	if grep { $_->{title} eq $item->{title} } list_items($next);
    return $next;
}

# parse_form PAGE --
#	The page's form as a browser reads it: { action, text (the text
#	field's name), checkbox and checkbox_value, submit and submit_value }.
#	Dies when the page has no such form.
sub parse_form {
    my ($page) = @_;
    my ($action) = $page =~ m{<form\b[^>]*\baction="([^"]*)"} or die "the page has no form\n";
    my %form = (action => html_unescape($action));
    while ($page =~ m{<input\b([^>]*)>}g) {
	my %attribute;
	my $attributes = $1;
	$attribute{lc $1} = html_unescape($2) while $attributes =~ /([\w-]+)="([^"]*)"/g;
	my $type = lc($attribute{type} // 'text');
	next unless defined $attribute{name} && $type =~ /^(?:text|checkbox|submit)$/;
	next if defined $form{$type};
	$form{$type} = $attribute{name};
	$form{"${type}_value"} = $attribute{value} // ($type eq 'checkbox' ? 'on' : '');
    }
    die "the form has no text field and submit button\n" unless $form{text} && $form{submit};
    return \%form;
}

# list_items PAGE --
#	The entries of the page's list in order: { title (characters), remove
#	(the URL of its "remove" link) }.
sub list_items {
    my ($page) = @_;
    my ($list) = $page =~ m{<ul id="items">(.*?)</ul>}s or die "the page has no list\n";
    my @items;
    while ($list =~ m{<li>(.*?)</li>}gs) {
	my $entry = $1;
	my ($remove) = $entry =~ m{<a href="([^"]*)">remove</a>}
	    or die "a list entry has no remove link\n";
	my ($title) = $entry =~ m{<(?:span class="open"|s)>(.*?)</(?:span|s)>}s
	    or die "a list entry has no title\n";
	utf8::decode($title) or die "a title is not UTF-8\n";
	push @items, { title => html_unescape($title), remove => html_unescape($remove) };
    }
    return @items;
}

sub html_unescape {
    my ($text) = @_;
    my %entity = (amp => '&', lt => '<', gt => '>', quot => '"', apos => "'");
    $text =~ s/&(?:(amp|lt|gt|quot|apos)|#(\d+)|#x([0-9A-Fa-f]+));/
	defined $1 ? $entity{$1} : chr(defined $2 ? $2 : hex $3)/ge;
    return $text;
}

# merge_reports DIR, CLIENTS, START --
#	The clients' reports merged; dies when one is missing (the client
#	died before writing it).
sub merge_reports {
    my ($dir, $clients, $start) = @_;
    my %merged = (requests => 0, latencies => [], failed => 0, failures => [], users => [],
	end => $start);
    for my $n (0 .. $clients - 1) {
	my $report = eval { Storable::retrieve("$dir/client$n") }
	    or die "client $n ended without reporting\n";
	$merged{requests} += $report->{sent};
	push @{ $merged{latencies} }, @{ $report->{latencies} };
	$merged{failed} += $report->{failed};
	push @{ $merged{failures} }, @{ $report->{failures} };
	push @{ $merged{users} }, $report->{user};
	$merged{end} = $report->{end} if $report->{end} > $merged{end};
    }
    $merged{seconds} = $merged{end} - $start;
    return \%merged;
}

# percentile FRACTION, SORTED --
#	The nearest-rank percentile of a sorted list of numbers.
sub percentile {
    my ($fraction, @sorted) = @_;
    return undef unless @sorted;
    my $rank = POSIX::ceil($fraction * @sorted);
    $rank = 1 if $rank < 1;
    return $sorted[$rank - 1];
}

1;
