#!/usr/bin/perl
# The HTTP load benchmark's own parts (bench/HttpLoad): its client
# connection against a scripted server that answers in every way HTTP
# allows and in some broken ones; its reading of the to-do page; and its
# control of a Starman server and of the forked clients.  The benchmark's
# figures are not tested here: there are no timing checks.
use strict;
use warnings;
use Test::More;
use FindBin ();
use lib "$FindBin::Bin/../bench";
use IO::Socket::INET;
use POSIX ();
use File::Temp ();
use HttpLoad::Connection;
use HttpLoad::Clients;
use HttpLoad::Server;

# A server answering one connection at a time by the request's path
# (see answer below); answers its port.  Each body tells the connection
# and the request number on it, so keep-alive can be seen.
sub scripted_server {
    my $listen = IO::Socket::INET->new(LocalAddr => '127.0.0.1', LocalPort => 0, Listen => 5,
	ReuseAddr => 1) or die "listen: $@";
    my $pid = fork // die "fork: $!";
    if ($pid == 0) {
	my $connection = 0;
	while (my $client = $listen->accept) {
	    $connection++;
	    my ($buffer, $request) = ('', 0);
	    while (1) {
		$buffer .= $_ while $buffer !~ /\r\n\r\n/ && defined($_ = read_some($client));
		last unless $buffer =~ s/^(.*?)\r\n\r\n//s;
		my $head = $1;
		my ($length) = $head =~ /^Content-Length: (\d+)/mi;
		$buffer .= $_ while length($buffer) < ($length // 0) && defined($_ = read_some($client));
		my $body = substr($buffer, 0, $length // 0, '');
		last unless answer($client, $head, $body, "conn=$connection req=" . ++$request);
	    }
	    close $client;
	}
	POSIX::_exit(0);
    }
    return ($listen->sockport, $pid);
}

sub read_some {
    my ($socket) = @_;
    my $read = sysread($socket, my $data, 4096);
    return $read ? $data : undef;
}

# Writes the answer to one request; answers whether the connection
# stays open.
sub answer {
    my ($client, $head, $body, $tag) = @_;
    my ($path) = $head =~ m{^\w+ (\S+)};
    my $ok = "HTTP/1.1 200 OK\r\n";
    my %reply = (
	'/length' => "${ok}Content-Length: " . length($tag) . "\r\nSet-Cookie: theme=dark; HttpOnly\r\n"
	    . "Set-Cookie: ry_session=abc123; Path=/; SameSite=Lax\r\nX-Twice: 1\r\nX-Twice: 2\r\n\r\n$tag",
	'/chunked' => "${ok}Transfer-Encoding: chunked\r\n\r\n3\r\nHel\r\n"
	    . sprintf('%x', 4 + length $tag) . "\r\nlo, $tag\r\n0\r\nX-Trailer: yes\r\n\r\n",
	'/badchunk' => "${ok}Transfer-Encoding: chunked\r\n\r\n3\r\nHello\r\n0\r\n\r\n",
	'/eof' => "HTTP/1.0 200 OK\r\n\r\nto the end, $tag",
	'/close' => "${ok}Content-Length: " . length($tag) . "\r\nConnection: close\r\n\r\n$tag",
	'/echo' => "${ok}Content-Length: " . length($body) . "\r\n\r\n$body",
	'/head' => "${ok}Content-Length: 1000\r\n\r\n",
	'/garbage' => "garbage\r\n\r\n",
	'/short' => "${ok}Content-Length: 100\r\n\r\nten bytes.",
	'/silent' => '',
    );
    syswrite($client, $reply{$path} // "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    if ($path eq '/silent') {
	1 while defined read_some($client);	# until the client gives up
	return 0;
    }
    return !($path =~ m{^/(?:eof|close|garbage|short|badchunk)$});
}

my ($port, $serverPid) = scripted_server();
my $logs = File::Temp::tempdir(CLEANUP => 1);
END { kill KILL => $serverPid if $serverPid }

subtest 'responses over one connection kept alive' => sub {
    my $c = HttpLoad::Connection->new($port);
    my $r = $c->request(GET => '/length');
    is($r->{status}, 200, 'status');
    is($r->{body}, 'conn=1 req=1', 'body by Content-Length');
    is_deeply($r->{cookies}, { theme => 'dark', ry_session => 'abc123' }, 'every Set-Cookie, without attributes');
    is($r->{headers}{'x-twice'}, '1, 2', 'a repeated header is joined');
    ok($r->{seconds} > 0, 'the latency is recorded');
    is($c->request(GET => '/chunked')->{body}, 'Hello, conn=1 req=2', 'a chunked body with a trailer');
    is($c->request(HEAD => '/head')->{body}, '', 'HEAD reads no body whatever the length says');
    is($c->request(GET => '/length')->{body}, 'conn=1 req=4', 'still the same connection');
    is($c->request(GET => '/close')->{body}, 'conn=1 req=5', 'Connection: close answered');
    is($c->request(GET => '/length')->{body}, 'conn=2 req=1', 'the next request opens a new connection');
    is($c->request(GET => '/eof')->{body}, 'to the end, conn=2 req=2', 'a body up to the end of the connection');
    is($c->request(GET => '/length')->{body}, 'conn=3 req=1', 'and again a new connection after it');
    $c->close;
    is($c->request(GET => '/length')->{body}, 'conn=4 req=1', 'a request after close reconnects');
    $c->close;
};

subtest 'form bodies' => sub {
    my $c = HttpLoad::Connection->new($port);
    is($c->request(POST => '/echo', form => { b => "Gr\x{fc}\x{df}e \x{2713}", a => 'x&y=z' })->{body},
	'a=x%26y%3Dz&b=Gr%C3%BC%C3%9Fe+%E2%9C%93', 'sorted, escaped, UTF-8, space as +');
    is($c->request(POST => '/echo', form => {})->{body}, '', 'an empty form');
    $c->close;
};

subtest 'broken answers are errors naming the request, and the next request works' => sub {
    my $c = HttpLoad::Connection->new($port);
    eval { $c->request(GET => '/garbage') };
    like($@, qr{^GET /garbage: malformed status line "garbage"}, 'no status line');
    eval { $c->request(GET => '/badchunk') };
    like($@, qr{^GET /badchunk: a chunk is longer than its size 3}, 'a chunk longer than its size');
    eval { $c->request(GET => '/short') };
    like($@, qr{^GET /short: the server closed the connection inside a body of 100 bytes}, 'a short body');
    local $HttpLoad::Connection::TIMEOUT = 1;
    eval { $c->request(GET => '/silent') };
    like($@, qr{^GET /silent: no answer within 1 s$}, 'no answer');
    like($@, $HttpLoad::Connection::TIMED_OUT, 'which the clients recognize');
    like($c->request(GET => '/length')->{body}, qr/^conn=\d+ req=1$/, 'a new connection after each');
    $c->close;
    my $closed = HttpLoad::Server::free_port();
    eval { HttpLoad::Connection->new($closed)->request(GET => '/') };
    like($@, qr/^cannot connect to 127\.0\.0\.1:$closed/, 'nothing listening');
};

# The page as the to-do example renders it, with a done item, entities
# and text beyond ASCII.
my $page = <<'HTML';
<h1>To do (3)</h1>
<ul id="items">
  <li><span class="open">Buy &amp; sell</span> <a href="/Main?r=7&amp;a=0">done</a> <a href="/Main?r=7&amp;a=1">remove</a></li>
  <li><strong>!</strong> <s>Gr&#252;&#xdf;e ✓</s> <a href="/Main?r=7&amp;a=3">remove</a></li>
</ul>
<form method="post" action="/Main?r=7&amp;f=4">
  <input type="text" name="f4" value="">
  <label><input type="checkbox" name="f5"> urgent</label>
  <input type="submit" name="a6" value="Add">
</form>
HTML

subtest 'reading the to-do page as a browser' => sub {
    is_deeply(HttpLoad::Clients::parse_form($page), { action => '/Main?r=7&f=4', text => 'f4',
	text_value => '', checkbox => 'f5', checkbox_value => 'on', submit => 'a6',
	submit_value => 'Add' }, 'the form: action unescaped, field names, a checkbox without value');
    is_deeply([HttpLoad::Clients::list_items($page)], [
	{ title => 'Buy & sell', remove => '/Main?r=7&a=1' },
	{ title => "Gr\x{fc}\x{df}e \x{2713}", remove => '/Main?r=7&a=3' },
    ], 'the list: open and done items, entities and UTF-8 decoded');
    is_deeply([HttpLoad::Clients::list_items('<ul id="items">
</ul>')], [], 'an empty list');
    eval { HttpLoad::Clients::parse_form('<p>no form</p>') };
    like($@, qr/^the page has no form/, 'a page without a form');
    eval { HttpLoad::Clients::list_items('<li>x</li>') };
    like($@, qr/^the page has no list/, 'a page without the list');
    eval { HttpLoad::Clients::list_items('<ul id="items"><li><span class="open">x</span></li></ul>') };
    like($@, qr/^a list entry has no remove link/, 'an entry without its link');
};

subtest 'percentiles' => sub {
    my @sorted = (1 .. 100);
    is(HttpLoad::Clients::percentile(0.50, @sorted), 50, 'p50 of 1..100');
    is(HttpLoad::Clients::percentile(0.99, @sorted), 99, 'p99 of 1..100');
    is(HttpLoad::Clients::percentile(0.99, 7), 7, 'of one value');
    is(HttpLoad::Clients::percentile(0.5), undef, 'of none');
};

# A Starman server of the bench's hello application, and clients run
# against it.
SKIP: {
    skip 'starman is not installed', 3 unless HttpLoad::Server::find_program('starman');
    my $server = HttpLoad::Server->start(psgi => "$FindBin::Bin/../bench/http_load.psgi",
	workers => 2, env => { HTTP_LOAD_APP => 'hello' }, lib => [], log => "$logs/hello.log");
    my @processes = ($server->pid, $server->worker_pids);

    subtest 'the server' => sub {
	my @workers = $server->worker_pids;
	is(scalar @workers, 2, 'two workers');
	cmp_ok($server->memory_kb, '>', HttpLoad::Server::rss_kb($workers[0]),
	    'memory counts more than one process');
	my $r = HttpLoad::Connection->new($server->port)->request(GET => '/');
	is($r->{body}, "Hello\n", 'the hello application answers');
	ok((grep { $_ == $r->{headers}{'x-bench-worker'} } @workers), 'naming a worker');
    };

    subtest 'clients' => sub {
	my $run = HttpLoad::Clients::run(port => $server->port, behaviour => 'hello',
	    requests => 37, clients => 4, visit => 5);
	is($run->{requests}, 37, 'every request of the bound, shared out');
	is(scalar @{ $run->{latencies} }, 37, 'each one timed');
	is($run->{failed}, 0, 'none failed');
	is(scalar @{ $run->{users} }, 4, 'a user per client');
	# The to-do clients find no stylesheet here: each visit fails at
	# its first request, and the run still ends.
	$run = HttpLoad::Clients::run(port => $server->port, behaviour => 'todo',
	    requests => 6, clients => 2, visit => 5);
	is($run->{failed}, 6, 'failed requests are counted');
	like($run->{failures}[0], qr{^client \d: /style\.css came as text/plain}, 'with the reason');
	eval { HttpLoad::Clients::run(port => $server->port, behaviour => 'nonsense', requests => 1,
	    clients => 1, visit => 1) };
	like($@, qr/^unknown client behaviour nonsense/, 'an unknown behaviour');
    };

    $server->stop;
    is((grep { !HttpLoad::Server::process_ended($_) } @processes), 0,
	'stop ends the master and every worker');
}

eval { HttpLoad::Server->start(psgi => '/nonexistent.psgi', workers => 1, lib => [],
    log => "$logs/none.log") };
like($@, qr/^the server did not start: it exited/, 'a server that cannot start is an error')
    if HttpLoad::Server::find_program('starman');

done_testing;
