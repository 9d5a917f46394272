# Dravik::PSGI: the example application served as a PSGI application,
# static files, limits and hostile requests, options, and workers forked
# after the module was loaded (in a child perl, and under Starman).
use strict;
use warnings;
use utf8;
use Test::More;
use FindBin ();
use File::Temp ();
use Encode ();
use POSIX ();
use HTTP::Request::Common qw(GET HEAD POST PUT DELETE);
use Plack::Test;
use Plack::Middleware::Lint;
use Plack::Util;
use lib "$FindBin::Bin/lib";
use ChildPerl qw(run_perl);
use Dravik::PSGI;

binmode(Test::More->builder->$_, ':encoding(UTF-8)') for qw(output failure_output todo_output);

my $example = "$FindBin::Bin/../examples/todo";

# A probe application: Probe shows what reached the request cycle (form,
# query, cookies) and its process id; Broken dies or has a bad template.
my $root = File::Temp::tempdir(CLEANUP => 1);
my $outside = File::Temp::tempdir(CLEANUP => 1);
sub write_file {
    my ($path, $text) = @_;
    (my $dir = "$root/$path") =~ s{/[^/]+\z}{};
    mkdir $dir;
    open my $fh, '>:encoding(UTF-8)', "$root/$path" or die "$path: $!";
    print $fh $text;
    close $fh;
}
my $probe_pl = <<'PERL';
package Probe;
our @IVARS = qw(seen);
sub willPrepareForRequestInContext {
    my ($self, $request) = @_;
    my %v = map { $_ => Vantle::pl($request->$_) } qw(formValues queryValues cookies);
    $self->{seen} = join ' ', map { my $k = $_; "$k:" . join(',', map { "$_=$v{$k}{$_}" } sort keys %{ $v{$k} || {} }) } sort keys %v;
    return;
}
sub pid { $$ }
sub boom { die "boom in an action\n" }
'Probe';
PERL
write_file('Probe/Probe.pl', $probe_pl);
write_file('Probe/Probe.html', qq{<p id="seen"><ry:value key="seen"/></p><p id="pid"><ry:value key="pid"/></p>\n<ry:link action="boom">boom</ry:link>\n});
write_file('Broken/Broken.html', qq{<p><ry:value key="x"</p>\n});
write_file('public/Probe', "a static file named as a component\n");
write_file('public/note.txt', "Grüße ✓\n");
write_file('public/.secret', "hidden\n");
write_file('public/sub/page.html', "<p>inside</p>\n");
open(my $fh, '>', "$outside/passwd") or die; print $fh "outside\n"; close $fh;
symlink("$outside/passwd", "$root/public/escape.txt") or die "symlink: $!";
symlink("$root/public/note.txt", "$root/public/alias.txt") or die "symlink: $!";

# Plack's Lint checks every exchange against the PSGI rules.
my $todo = Plack::Test->create(Plack::Middleware::Lint->wrap(Plack::Util::load_psgi("$example/app.psgi")));
my $probe_app = Dravik::PSGI->new(root => $root, max_body => 4096);
my $probe = Plack::Test->create(Plack::Middleware::Lint->wrap($probe_app->to_app));

# Form contents as a browser sends them: UTF-8 bytes.
sub u8 { [ map { ref ? $_ : Encode::encode('UTF-8', $_) } @_ ] }
sub session_of { ($_[0]->header('Set-Cookie') // '') =~ /ry_session=(\w+)/ ? $1 : undef }
sub seen { $_[0]->decoded_content =~ m{<p id="seen">(.*?)</p>} ? $1 : undef }
sub items { [ $_[0]->decoded_content =~ m{<li>(.*?)</li>}g ] }

# The form of a page: its action, text field, checkbox and submit names.
sub form_of {
    my ($html) = @_;
    my ($action) = $html =~ m{<form method="post" action="([^"]+)"};
    my @names = map { $html =~ m{<input type="$_" name="([^"]+)"} } qw(text checkbox submit);
    return ($action =~ s/&amp;/&/gr, @names);
}
sub link_to { my ($r, $text) = @_; $r->decoded_content =~ m{<a href="([^"]+)">\Q$text\E</a>} ? $1 =~ s/&amp;/&/gr : undef }

# A client of the example that keeps its session cookie.
sub client {
    my $session;
    return sub {
        my $request = shift;
        $request->header(Cookie => "ry_session=$session") if defined $session;
        my $response = $todo->request($request);
        $session //= session_of($response);
        return $response;
    };
}

subtest 'the example: list, form posts, actions, pages, sessions' => sub {
    my $ann = client();
    my $r = $ann->(GET '/');
    is($r->code, 200, 'the list');
    is($r->header('Content-Type'), 'text/html; charset=utf-8', 'HTML in UTF-8');
    is($r->header('Content-Length'), length($r->content), 'Content-Length is the byte count');
    like($r->header('Set-Cookie'), qr{\Ary_session=\w+; Path=/; HttpOnly; SameSite=Lax\z}, 'session cookie flags');
    my ($action, $text, $box, $submit) = form_of($r->decoded_content);
    $r = $ann->(POST $action, u8($text => 'Grüße ✓', $submit => 'Add'));
    is($r->header('Set-Cookie'), undef, 'a known session sets no new cookie');
    like(items($r)->[0], qr{Grüße ✓}, 'a URL-encoded form post adds, UTF-8 kept both ways');
    ($action, $text, $box, $submit) = form_of($r->decoded_content);
    $r = $ann->(POST $action, Content_Type => 'form-data', Content => u8($text => 'Ünïcode ✓', $box => 1, $submit => 'Add'));
    like(items($r)->[1], qr{<strong>!</strong>.*Ünïcode ✓}, 'a multipart post adds, with the checkbox');
    $r = $ann->(GET link_to($r, 'done'));
    like(items($r)->[0], qr{<s>Grüße ✓</s>}, 'an action link marks an item done');
    $r = $ann->(GET link_to($r, 'About this list'));
    is($r->code, 303, 'an action that goes to another page redirects');
    is($r->header('Location'), '/About', '... to that page');
    $r = $ann->(GET $r->header('Location'));
    like($r->decoded_content, qr{<h1>About this list</h1>}, 'the about page');
    $r = $ann->(GET link_to($r, 'Back to the list'));
    $r = $ann->(GET $r->header('Location')) if $r->code == 303;
    is(scalar @{ items($r) }, 2, 'and back: the session kept the list');
    $r = client()->(GET '/');
    is_deeply(items($r), [], 'a second client starts with an empty list');
    isnt(session_of($r), undef, 'and its own session');
    my ($head, $get) = map { $todo->request($_->('/')) } \&HEAD, \&GET;
    is($head->content, '', 'HEAD has no body');
    is_deeply([sort $head->headers->header_field_names], [sort $get->headers->header_field_names],
        '... and the headers of GET');
    cmp_ok($head->header('Content-Length'), '>', 500, '... with the length of the page');
};

subtest 'request values reach the cycle as UTF-8 text' => sub {
    my $r = $probe->request(POST '/Probe?q=%C3%BC+x&n=1', Cookie => 'a=%C3%A9; ry_session=forged',
        Content => u8(x => 'Grüße ✓', y => ''));
    is(seen($r), 'cookies:a=é,ry_session=forged formValues:x=Grüße ✓,y= queryValues:n=1,q=ü x',
        'form, query and cookies decoded');
    like($r->header('Set-Cookie'), qr{ry_session=(?!forged)\w+}, 'a forged session cookie gets a new session');
    $r = $probe->request(POST '/Probe', Content_Type => 'form-data', Content => u8(x => '✓', f => ["$root/public/note.txt"]));
    is(seen($r), 'cookies: formValues:x=✓ queryValues:', 'multipart: text fields, uploads left out');
    $r = $probe->request(POST '/Probe', Content_Type => 'multipart/form-data; boundary="a=b"',
        Content => qq{--a=b\r\nContent-Disposition: form-data; name="x y"\r\n\r\n1\r\n--a=b--\r\n});
    is(seen($r), 'cookies: formValues:x y=1 queryValues:', 'multipart: a quoted boundary and name');
};

subtest 'static files from public/ only' => sub {
    my $r = $todo->request(GET '/style.css');
    is($r->code, 200, '/style.css');
    is($r->header('Content-Type'), 'text/css; charset=utf-8', 'type by extension');
    is($r->header('Content-Length'), -s "$example/public/style.css", 'length of the file');
    is($r->content, do { local (@ARGV, $/) = "$example/public/style.css"; <> }, 'its bytes');
    $r = $todo->request(HEAD '/style.css');
    is_deeply([$r->code, $r->header('Content-Length'), $r->content], [200, -s "$example/public/style.css", ''],
        'HEAD: the headers, no body');
    is($probe->request(GET '/note.txt')->decoded_content, "Grüße ✓\n", 'a text file in UTF-8');
    is($probe->request(GET '/alias.txt')->code, 200, 'a symbolic link inside public/');
    is($probe->request(GET '/sub/page.html')->header('Content-Type'), 'text/html; charset=utf-8', 'a sub-folder');
    like($probe->request(GET '/Probe')->content, qr{id="seen"}, 'a component wins over a file of its name');
    my $post = $probe->request(POST '/note.txt', [x => 1]);
    is_deeply([$post->code, $post->header('Allow')], [405, 'GET, HEAD'], 'POST to a file: 405');
    for my $path ('/escape.txt', '/.secret', '/sub', '/nothing.css') {
        is($probe->request(GET $path)->code, 404, "$path: 404");
    }
    is($probe->request(HEAD '/..')->content, '', 'HEAD of a refused path: no body either');
    for my $path ('/../Probe/Probe.pl', '/%2e%2e/Probe/Probe.pl', '/sub/%2E%2E/%2e%2e/etc/passwd', '/note.txt%00.css') {
        my $r = $probe->request(GET $path);
        is($r->code, 400, "$path: 400");
        unlike($r->content, qr{outside|package}, '... and nothing of the file');
    }
};

# A psgi.input that counts what is read, and fails if too much is.
package CountingInput {
    sub new { my ($class, $size) = @_; bless { left => $size, read => 0 }, $class }
    sub read {
        my ($self, undef, $length) = @_;
        $length = $self->{left} if $length > $self->{left};
        $_[1] = 'x' x $length;
        $self->{left} -= $length;
        $self->{read} += $length;
        return $length;
    }
}

package FailingInput { sub read { $! = 5; return undef } }

subtest 'body limits' => sub {
    my $app = $probe_app->to_app;
    my %env = (REQUEST_METHOD => 'POST', PATH_INFO => '/Probe', QUERY_STRING => '',
        CONTENT_TYPE => 'application/x-www-form-urlencoded', 'psgi.errors' => \*STDERR);
    my $input = CountingInput->new(10_000_000);
    my $r = $app->({ %env, CONTENT_LENGTH => 10_000_000, 'psgi.input' => $input });
    is($r->[0], 413, 'a declared length over max_body: 413');
    is($input->{read}, 0, '... nothing read');
    is({ @{ $r->[1] } }->{Connection}, 'close', '... and the connection closes');
    $input = CountingInput->new(10_000_000);
    $r = $app->({ %env, HTTP_TRANSFER_ENCODING => 'chunked', 'psgi.input' => $input });
    is($r->[0], 413, 'a chunked body over max_body: 413');
    cmp_ok($input->{read}, '<=', 4097, '... read only up to the limit');
    $r = $app->({ %env, HTTP_TRANSFER_ENCODING => 'chunked', 'psgi.input' => CountingInput->new(4096) });
    is($r->[0], 200, 'a chunked body at the limit is served');
    $r = $app->({ %env, CONTENT_LENGTH => 100, 'psgi.input' => CountingInput->new(10) });
    is($r->[0], 400, 'a body shorter than its length: 400');
    open(my $errors, '>', \my $logged) or die;
    $r = $app->({ %env, CONTENT_LENGTH => 10, 'psgi.input' => bless({}, 'FailingInput'), 'psgi.errors' => $errors });
    is($r->[0], 500, 'a body that cannot be read: 500');
    like($logged, qr{\ADravik::PSGI: reading the request body: }, '... the reason on psgi.errors');
    is($probe->request(POST '/Probe', [x => 'y' x 5000])->code, 413, 'through HTTP::Request');
    is(Plack::Test->create(Dravik::PSGI->new(root => $root)->to_app)->request(POST '/Probe', [x => 'y' x 1_000_000])->code,
        200, 'the default limit is 1 MB');
};

subtest 'hostile and broken requests: 4xx/5xx, then the next request works' => sub {
    my $cookie = 'ry_session=' . session_of($probe->request(GET '/Probe'));
    my @cases = (
        [POST('/Probe', Content_Type => 'multipart/form-data; boundary=XX', Content => "--XX\r\nno header end"), 400, 'malformed multipart'],
        [POST('/Probe', Content_Type => 'multipart/form-data', Content => "x"), 400, 'multipart without a boundary'],
        [POST('/Probe', Content_Type => 'multipart/form-data; boundary="a "', Content => "x"), 400, 'an invalid boundary'],
        [POST('/Probe', Content_Type => 'multipart/form-data; boundary=XX', Content => "--XX\r\n\r\nx\r\n--XX--\r\n"), 400, 'a part without a name'],
        [POST('/Probe', Content_Type => 'application/x-www-form-urlencoded', Content => 'x=%zz'), 400, 'bad %-escape in the body'],
        [POST('/Probe', Content_Type => 'application/x-www-form-urlencoded', Content => 'x=%FF%FE'), 400, 'body not UTF-8'],
        [GET('/Probe?x=%4'), 400, 'bad %-escape in the query'],
        [POST('/Probe', Content_Type => 'text/plain', Content => 'hello'), 415, 'a body of another type'],
        [GET('/Probe?r=999999&a=77'), 200, 'an unknown action id: the page again'],
        [sub { GET(link_to($_[0], 'boom')) }, 500, 'a die in an action'],
        [GET('/Broken'), 500, 'a template error'],
        [GET('/Nowhere'), 404, 'no such page'],
        [PUT('/Probe'), 405, 'PUT'],
        [DELETE('/Probe'), 405, 'DELETE'],
    );
    for my $case (@cases) {
        my ($request, $status, $name) = @$case;
        $request = $request->($probe->request(GET '/Probe', Cookie => $cookie)) if ref $request eq 'CODE';
        $request->header(Cookie => $cookie);
        my $r = $probe->request($request);
        is($r->code, $status, "$name: $status");
        is($r->header('Allow'), 'GET, HEAD, POST', '... with Allow') if $status == 405;
        like($r->content, qr{boom in an action}, '... naming the error') if $name =~ /die/;
        is($probe->request(GET '/Probe')->code, 200, '... and the next request works');
    }
};

subtest 'options' => sub {
    my $psgi = Dravik::PSGI->new(root => $root, session_idle => 60, session_limit => 1);
    my $store = $psgi->{app}->sessionStore;
    is_deeply([$store->idleTimeout, $store->limit], [60, 1], 'session_idle and session_limit');
    my $test = Plack::Test->create($psgi->to_app);
    my $first = session_of($test->request(GET '/Probe'));
    $test->request(GET '/Probe');
    my $r = $test->request(GET '/Probe', Cookie => "ry_session=$first");
    isnt(session_of($r), undef, 'past the bound, the oldest session is gone');
    for my $bad ([], [root => "$root/none"], [root => $root, max_body => 0],
                 [root => $root, session_idle => -1], [root => $root, color => 1]) {
        eval { Dravik::PSGI->new(@$bad) };
        like($@, qr{\ADravik::PSGI: }, "refused: @$bad[2 .. $#$bad]");
    }
    my $once = Plack::Test->create(Dravik::PSGI->new(root => $root, load_once => 1)->to_app);
    $once->request(GET '/Probe');
    write_file('Probe/Probe.pl', "package Probe; our \@IVARS = ('seen'); sub pid { 'edited' } 'Probe';\n");
    like($once->request(GET '/Probe')->content, qr{<p id="pid">\d+</p>}, 'load_once: an edited script does not run again');
    RyApplication->setLoadOnceOnly_(0);
    write_file('Probe/Probe.pl', $probe_pl);
};

# An application still live when the program ends is released before
# Perl's global destruction frees values in an order of its own: the END
# block below runs after the module's.
my (undef, $released) = run_perl(<<PERL);
my \$app;
END { print Vantle::object_is_bad(\$app) ? "released\\n" : "live\\n" }
use Dravik::PSGI;
our \$psgi = Dravik::PSGI->new(root => '$example');
\$app = \$psgi->{app};
PERL
is($released, "released\n", 'the application is released at exit');

# A worker forked after the application was made serves requests and
# keeps sessions of its own; so does the parent afterwards.
my ($status, $output) = run_perl(<<PERL);
use strict; use warnings; use Dravik::PSGI; use HTTP::Request::Common; use Plack::Test;
use Plack::Middleware::Lint;
use Plack::Util;
my \$app = Dravik::PSGI->new(root => '$example')->to_app;
my \$test = Plack::Test->create(\$app);
print 'parent ', \$test->request(GET '/')->code, "\\n";
my \$pid = fork // die "fork: \$!";
if (\$pid == 0) {
    my \$r = \$test->request(GET '/');
    my (\$session) = \$r->header('Set-Cookie') =~ /ry_session=(\\w+)/;
    my (\$action) = \$r->content =~ m{action="([^"]+)"};
    my (\$text, \$submit) = map { \$r->content =~ m{type="\$_" name="([^"]+)"} } qw(text submit);
    \$action =~ s/&amp;/&/g;
    \$r = \$test->request(POST \$action, Cookie => "ry_session=\$session", Content => [\$text => 'milk', \$submit => 'Add']);
    print 'child ', \$r->code, ' ', (\$r->content =~ /milk/ ? 'added' : 'lost'), "\\n";
    exit 0;
}
waitpid(\$pid, 0);
print "child exit \$?\\n", 'parent ', \$test->request(GET '/style.css')->code, "\\n";
PERL
is($output, "parent 200\nchild 200 added\nchild exit 0\nparent 200\n", 'a forked worker serves the example');

subtest 'starman --preload-app with two workers' => sub {
    my ($starman) = grep { -x } map { "$_/starman" } split /:/, $ENV{PATH};
    plan skip_all => 'starman is not installed' unless $starman;
    require HTTP::Tiny;
    require IO::Socket::INET;
    my $port = IO::Socket::INET->new(Listen => 1, LocalAddr => '127.0.0.1', LocalPort => 0)->sockport;
    open(my $psgi, '>', "$outside/app.psgi") or die;
    print $psgi "use Dravik::PSGI; Dravik::PSGI->new(root => '$root')->to_app;\n";
    close $psgi;
    local $ENV{PERL5LIB} = join ':', grep { !ref } @INC;
    my $server = fork // die "fork: $!";
    if ($server == 0) {
        open(STDERR, '>', "$outside/starman.log");
        open(STDOUT, '>&', \*STDERR);
        exec($starman, '--preload-app', '--workers', 2, '--keepalive-timeout', 30,
            '--listen', "127.0.0.1:$port", "$outside/app.psgi") or POSIX::_exit(1);
    }
    my $stop = bless [$server], 'StopServer';
    # Two clients on connections of their own: a worker serves one
    # kept-alive connection at a time, so they reach both workers.
    my @clients = map { HTTP::Tiny->new(keep_alive => 1, timeout => 20) } 1 .. 2;
    my $url = "http://127.0.0.1:$port/Probe";
    for (1 .. 600) {
        last if IO::Socket::INET->new(PeerAddr => "127.0.0.1:$port");
        select(undef, undef, undef, 0.1);
    }
    my @pages = map { $_->get($url) } @clients;
    is_deeply([map { $_->{status} } @pages], [200, 200], 'both clients served')
        or diag(do { local (@ARGV, $/) = "$outside/starman.log"; <> });
    my @pids = map { $_->{content} =~ m{<p id="pid">(\d+)</p>} } @pages;
    is(scalar(@pids), 2, 'each page names its worker');
    isnt($pids[0], $pids[1], 'by two worker processes');
    ok(!grep({ $_ == $server } @pids), 'forked from the server');
    for my $i (0, 1) {
        my ($session) = $pages[$i]{headers}{'set-cookie'} =~ /ry_session=(\w+)/;
        my $r = $clients[$i]->post_form("$url?n=$i", { x => "✓$i" }, { headers => { Cookie => "ry_session=$session" } });
        is($r->{headers}{'set-cookie'}, undef, "client $i: the worker knows its session");
        like(Encode::decode('UTF-8', $r->{content}), qr{formValues:x=✓$i queryValues:n=$i}, "client $i: form and query");
    }
};

# Stops the server when the test is done with it, whatever happened.
package StopServer { sub DESTROY { kill 'TERM', $_[0][0]; waitpid($_[0][0], 0) } }

done_testing;
