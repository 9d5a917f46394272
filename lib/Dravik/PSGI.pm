package Dravik::PSGI;

# Serves a Perl-scripted web application (a folder, see Dravik) as a PSGI
# application: each HTTP request becomes one request cycle of the
# framework, and static files come from the folder's public/.

use strict;
use warnings;

use Carp ();
use Cwd ();
use Encode ();
use HTTP::Date ();
use HTTP::MultiPartParser ();
use Plack::MIME ();
use Scalar::Util ();
use Dravik;

our $VERSION = '3.1';

my $DEFAULT_MAX_BODY = 1048576;
my %KNOWN = map { $_ => 1 } qw(root session_idle session_limit load_once max_body);
my $COMPONENT_PATH = qr{\A/([A-Za-z_][A-Za-z0-9_]*)\z};
my %LIVE;    # address => the object (weak): every object whose application is live

# new(root => DIR, OPTIONS) --
#	Makes the framework's application for the folder DIR now, so a
#	server that loads the application before it forks shares it with
#	its workers.  Croaks for an unknown option, a bad value, or a
#	folder that is no directory.
sub new {
    my ($class, %args) = @_;
    my @unknown = grep { !$KNOWN{$_} } sort keys %args;
    Carp::croak("Dravik::PSGI: unknown option(s): @unknown") if @unknown;
    my $self = bless {%args}, $class;
    $self->{max_body} //= $DEFAULT_MAX_BODY;
    $self->_check_options;
    $self->{root} = Cwd::abs_path($self->{root});
    my $public = "$self->{root}/public";
    $self->{public} = -d $public ? Cwd::realpath($public) : undef;
    RyApplication->setLoadOnceOnly_($self->{load_once} ? 1 : 0) if defined $self->{load_once};
    $self->{app} = BqDravikApplication->alloc->initWithRoot_($self->{root});
    Scalar::Util::weaken($LIVE{ Scalar::Util::refaddr($self) } = $self);
    $self->_set_session_store if defined $self->{session_idle} || defined $self->{session_limit};
    return $self;
}

# _check_options --
#	Croaks unless root is a directory and the numeric options are
#	positive integers (session_idle: a positive number of seconds).
sub _check_options {
    my ($self) = @_;
    my $root = $self->{root};
    Carp::croak('Dravik::PSGI: root => DIRECTORY is required') unless defined $root;
    Carp::croak("Dravik::PSGI: root $root is no directory") unless -d $root;
    my $number = qr/\A(?:\d+(?:\.\d*)?|\.\d+)\z/;
    for my $name (qw(session_limit max_body)) {
        my $value = $self->{$name} // next;
        Carp::croak("Dravik::PSGI: $name must be a positive integer, not $value")
            unless $value =~ /\A[0-9]+\z/ && $value > 0;
    }
    my $idle = $self->{session_idle};
    Carp::croak("Dravik::PSGI: session_idle must be a positive number of seconds, not $idle")
        if defined $idle && !($idle =~ $number && $idle > 0);
    return;
}

# _set_session_store --
#	Gives the application a session store with the configured idle
#	time and bound (the framework's defaults for the one not given).
sub _set_session_store {
    my ($self) = @_;
    my $pool = Vantle::autorelease_pool;
    my $old = $self->{app}->sessionStore;
    my $idle = $self->{session_idle} // $old->idleTimeout;
    my $limit = $self->{session_limit} // $old->limit;
    my $store = RySessionStore->alloc->initWithIdleTimeout_limit_($idle, $limit);
    $self->{app}->setSessionStore_($store);
    $store->release;
    return;
}

# to_app --
#	The PSGI application: a code reference taking the environment.
sub to_app {
    my ($self) = @_;
    return sub { $self->call($_[0]) };
}

# call(ENV) --
#	Answers one request as a PSGI response; the response to HEAD has
#	the headers of GET and no body.  Never dies: a failure of its own
#	is a 500 response, and the reason goes to psgi.errors.
sub call {
    my ($self, $env) = @_;
    my $response = eval { $self->_respond($env) };
    if (!$response) {
        my $error = $@ || 'unknown error';
        $env->{'psgi.errors'}->print("Dravik::PSGI: $error") if $env->{'psgi.errors'};
        $response = _text(500, 'Internal Server Error');
    }
    $response->[2] = [] if ($env->{REQUEST_METHOD} // '') eq 'HEAD';
    return $response;
}

# _respond(ENV) --
#	Checks the method and path, then serves a static file or runs the
#	framework's request cycle.
sub _respond {
    my ($self, $env) = @_;
    my $method = $env->{REQUEST_METHOD} // '';
    return _text(405, "Method Not Allowed: $method", Allow => 'GET, HEAD, POST')
        unless $method =~ /\A(?:GET|HEAD|POST)\z/;
    my $path = length($env->{PATH_INFO} // '') ? $env->{PATH_INFO} : '/';
    return _text(400, 'Bad Request: the path holds a NUL byte') if $path =~ /\0/;
    return _text(400, 'Bad Request: the path holds a ".." segment') if $path =~ m{(?:\A|/)\.\.(?:/|\z)};
    return _text(400, 'Bad Request: the path does not start with "/"') unless $path =~ m{\A/};
    my $file = $self->_static_file($path);
    if (defined $file) {
        return _text(405, "Method Not Allowed: $method", Allow => 'GET, HEAD') if $method eq 'POST';
        return _file($file, $path);
    }
    return $self->_dynamic($env, $method, $path);
}

# _static_file(PATH) --
#	The real path of the file under public/ that PATH names, or undef:
#	when PATH names a component of the application, when a segment is
#	hidden (starts with "."), or when the file, with every symbolic
#	link resolved, is not a plain file inside public/.
sub _static_file {
    my ($self, $path) = @_;
    my $public = $self->{public} // return undef;
    return undef if $path eq '/' || $path =~ m{/\.};
    my $real = Cwd::realpath($public . $path) // return undef;
    return undef unless index($real, "$public/") == 0 && -f $real;
    if ($path =~ $COMPONENT_PATH) {
        my $pool = Vantle::autorelease_pool;
        return undef if defined Vantle::pl($self->{app}->templatePathForComponentWithName_($1));
    }
    return $real;
}

# _file(REAL, PATH) --
#	The response of the static file REAL requested as PATH: its type
#	by PATH's extension, its length and time, and its bytes.  A file
#	that cannot be opened is a 403.
sub _file {
    my ($real, $path) = @_;
    open(my $fh, '<:raw', $real) or return _text(403, 'Forbidden');
    my @stat = stat $fh;
    my $type = Plack::MIME->mime_type($path) // 'application/octet-stream';
    $type .= '; charset=utf-8' if $type =~ m{\Atext/|javascript|json|xml};
    my @headers = ('Content-Type' => $type, 'Content-Length' => $stat[7],
        'Last-Modified' => HTTP::Date::time2str($stat[9]));
    return [200, \@headers, $fh];
}

# _dynamic(ENV, METHOD, PATH) --
#	Runs the framework's request cycle: the form's values from the
#	body, the query and the cookies go in; status, headers and the
#	page's UTF-8 bytes come out.
sub _dynamic {
    my ($self, $env, $method, $path) = @_;
    my $query = $env->{QUERY_STRING} // '';
    # The framework parses the query itself; it is only checked here.
    my (undef, $error) = _parse_urlencoded($query);
    return _text(400, "Bad Request: the query $error") if $error;
    my $form = {};
    if ($method eq 'POST') {
        my ($body, $status, $reason) = $self->_read_body($env);
        return _text($status, $reason, $status == 413 ? (Connection => 'close') : ()) if $status;
        ($form, $status, $reason) = _parse_body($env, $body);
        return _text($status, $reason) if $status;
    }
    my $cookies = _cookies($env->{HTTP_COOKIE});
    my $uri = _escape_path($path) . (length $query ? "?$query" : '');

    my $pool = Vantle::autorelease_pool;
    my $request = RyRequest->requestWithMethod_URI_formValues_cookies_($method, $uri, $form, $cookies);
    my $response = $self->{app}->handleRequest_($request);
    my $status = $response->status;
    my $headers = Vantle::pl($response->headers);
    my $content = Vantle::pl($response->contentData) // '';
    push @$headers, 'Content-Length' => length $content;
    return [$status, $headers, [$content]];
}

# _read_body(ENV) --
#	The body's bytes, read whole, or (undef, STATUS, REASON): 413 when
#	the declared length is over max_body (nothing is read) or a body
#	without a declared length goes past it (reading stops there), 400
#	when the body ends before its declared length.
sub _read_body {
    my ($self, $env) = @_;
    my $max = $self->{max_body};
    my $length = $env->{CONTENT_LENGTH};
    my $input = $env->{'psgi.input'};
    my $too_big = "Payload Too Large: the body may hold at most $max bytes";
    if (defined $length && length $length) {
        return (undef, 400, 'Bad Request: malformed Content-Length') unless $length =~ /\A[0-9]+\z/;
        return (undef, 413, $too_big) if $length > $max;
        my $body = _read_at_most($input, $length);
        return (undef, 400, 'Bad Request: the body is shorter than its Content-Length')
            if length $body < $length;
        return ($body);
    }
    return ('') unless ($env->{HTTP_TRANSFER_ENCODING} // '') =~ /chunked/i;
    my $body = _read_at_most($input, $max + 1);
    return (undef, 413, $too_big) if length $body > $max;
    return ($body);
}

# _read_at_most(INPUT, COUNT) --
#	Up to COUNT bytes of the input stream, fewer at its end.
sub _read_at_most {
    my ($input, $count) = @_;
    my $body = '';
    return $body unless $input;
    while (length $body < $count) {
        my $read = $input->read(my $chunk, $count - length $body < 65536 ? $count - length $body : 65536);
        die "reading the request body: $!\n" unless defined $read;
        last if $read == 0;
        $body .= $chunk;
    }
    return $body;
}

# _parse_body(ENV, BODY) --
#	The form's values (name => value, characters) from a URL-encoded or
#	multipart body, or (undef, STATUS, REASON): 400 for a malformed
#	body or text that is not UTF-8, 415 for a non-empty body of another
#	type.  A name given twice keeps its last value; uploaded files are
#	left out.
sub _parse_body {
    my ($env, $body) = @_;
    my $type = $env->{CONTENT_TYPE} // '';
    if ($type =~ m{\Aapplication/x-www-form-urlencoded\b}i) {
        my ($form, $error) = _parse_urlencoded($body);
        return (undef, 400, "Bad Request: the form $error") if $error;
        return ($form);
    }
    if ($type =~ m{\Amultipart/form-data\b}i) {
        return _parse_multipart($env, $body);
    }
    return ({}) unless length $body;
    return (undef, 415, "Unsupported Media Type: $type");
}

# _parse_multipart(ENV, BODY) --
#	The text fields of a multipart/form-data body, as _parse_body.  A
#	part that is a file (its disposition names a filename) is skipped
#	without being stored anywhere.
sub _parse_multipart {
    my ($env, $body) = @_;
    my $boundary = $env->{CONTENT_TYPE} =~ /;\s*boundary=(?:"([^"]+)"|([^";,\s]+))/i ? $1 // $2 : undef;
    return (undef, 400, 'Bad Request: multipart body without a boundary') unless defined $boundary;
    my (%form, $part);
    my $parsed = eval {
        my $parser = HTTP::MultiPartParser->new(
            boundary => $boundary,
            on_header => sub { $part = _part_name($_[0]) // die "a part without a form field name\n" },
            on_body => sub {
                my ($chunk, $final) = @_;
                return unless defined $part->[0];
                $part->[1] .= $chunk;
                $form{ $part->[0] } = $part->[1] if $final;
            },
            on_error => sub { die "$_[0]\n" });
        $parser->parse($body);
        $parser->finish;
        1;
    };
    return (undef, 400, 'Bad Request: malformed multipart body') unless $parsed;
    my %text;
    while (my ($name, $value) = each %form) {
        my ($key, $text) = (_utf8($name), _utf8($value));
        return (undef, 400, 'Bad Request: a form field is not UTF-8 text')
            unless defined $key && defined $text;
        $text{$key} = $text;
    }
    return (\%text);
}

# _part_name(HEADER_LINES) --
#	[NAME, ''] for a part of a multipart form whose Content-Disposition
#	names a form field, [undef] for a file, undef for no name.
sub _part_name {
    my ($lines) = @_;
    my ($disposition) = map { /\AContent-Disposition:\s*(.*)/i ? $1 : () } @$lines;
    return undef unless defined $disposition && $disposition =~ /\Aform-data\b/i;
    return [undef] if $disposition =~ /;\s*filename\*?=/i;
    return $disposition =~ /;\s*name=(?:"((?:[^"\\]|\\.)*)"|([^";\s]+))/i ? [$1 // $2, ''] : undef;
}

# _parse_urlencoded(TEXT) --
#	The pairs of URL-encoded TEXT as a hash of characters (a name given
#	twice keeps its last value), or (undef, WHY) when an escape is
#	malformed or a part is not UTF-8 text.
sub _parse_urlencoded {
    my ($text) = @_;
    return (undef, 'holds a malformed %-escape') if $text =~ /%(?![0-9A-Fa-f]{2})/;
    my %form;
    for my $pair (split /&/, $text) {
        next unless length $pair;
        my ($name, $value) = map { scalar _utf8(_unescape($_)) } split(/=/, $pair, 2), '';
        return (undef, 'is not UTF-8 text') unless defined $name && defined $value;
        $form{$name} = $value;
    }
    return \%form;
}

# _unescape(TEXT) --
#	URL-encoded TEXT as bytes: "+" is a space, %XX the byte XX.
sub _unescape {
    my ($text) = @_;
    $text =~ tr/+/ /;
    $text =~ s/%([0-9A-Fa-f]{2})/chr hex $1/ge;
    return $text;
}

# _utf8(BYTES) --
#	The characters of UTF-8 bytes, or undef when they are not UTF-8.
sub _utf8 {
    my ($bytes) = @_;
    return undef unless defined $bytes;
    return eval { Encode::decode('UTF-8', $bytes, Encode::FB_CROAK | Encode::LEAVE_SRC) };
}

# _cookies(HEADER) --
#	The cookies of a Cookie header, name => value (characters; bytes
#	that are not UTF-8 become U+FFFD, as a cookie of another
#	application on the host must not make the request fail).
sub _cookies {
    my ($header) = @_;
    my %cookies;
    return \%cookies unless defined $header;
    for my $pair (split /;\s*/, $header) {
        my ($name, $value) = $pair =~ /\A\s*([^=\s]+)\s*=\s*"?([^"]*)"?\s*\z/ or next;
        $cookies{ Encode::decode('UTF-8', _unescape_cookie($name)) } =
            Encode::decode('UTF-8', _unescape_cookie($value));
    }
    return \%cookies;
}

# _unescape_cookie(TEXT) --
#	A cookie's TEXT as bytes: %XX is the byte XX, "+" stays.
sub _unescape_cookie {
    my ($text) = @_;
    $text =~ s/%([0-9A-Fa-f]{2})/chr hex $1/ge;
    return $text;
}

# _escape_path(PATH) --
#	PATH as it is written in a URI: bytes other than unreserved ones
#	and "/" as %XX.
sub _escape_path {
    my ($path) = @_;
    utf8::encode($path) if utf8::is_utf8($path);
    $path =~ s{([^A-Za-z0-9\-._~/])}{sprintf '%%%02X', ord $1}ge;
    return $path;
}

# _text(STATUS, TEXT, HEADERS) --
#	A plain-text response of one line.
sub _text {
    my ($status, $text, @headers) = @_;
    my $body = "$status $text\n";
    utf8::encode($body);
    return [$status,
        ['Content-Type' => 'text/plain; charset=utf-8', 'Content-Length' => length $body, @headers],
        [$body]];
}

# _release --
#	Releases the framework's application, once.
sub _release {
    my ($self) = @_;
    delete $LIVE{ Scalar::Util::refaddr($self) };
    my $app = delete $self->{app};
    $app->release if $app;
    return;
}

sub DESTROY { local $@; $_[0]->_release }

# The applications still live when the program ends are released before
# Perl's global destruction, which frees values in no set order and could
# free an application's handle before the object holding it.
END { $_->_release for grep { defined } values %LIVE }

1;

__END__

=head1 NAME

Dravik::PSGI - serve a Perl-scripted web application with any PSGI server

=head1 SYNOPSIS

    # app.psgi
    use Dravik::PSGI;
    Dravik::PSGI->new(root => '/srv/todo', session_limit => 50_000)->to_app;

and, from the shell:

    plackup --port 8080 app.psgi                     # one process
    starman --preload-app --workers 4 app.psgi       # several workers

=head1 DESCRIPTION

C<Dravik::PSGI> turns an application folder (see L<Dravik/SERVING AN
APPLICATION>: components with templates and Perl files, F<public/> for
static files) into a L<PSGI> application, so the servers of L<Plack>
(C<plackup>, Starman and the others) serve it.  Each request is one
request cycle of the framework, run in an autorelease pool of its own, so
memory stays flat however many requests come.

    my $app = Dravik::PSGI->new(root => $folder, %options)->to_app;

C<new> makes the framework's application for the folder at once (a
server that loads the application before it forks hands it to every
worker) and croaks C<Dravik::PSGI: ...> for a missing or unknown option, a
bad value, or a root that is no directory.  C<to_app> answers the PSGI
code reference; C<< $psgi->call($env) >> answers one request.  The
framework's application is released when the object goes, or at the end
of the program (in an C<END> block) when it is still there.

The example application has one: F<examples/todo/app.psgi>, served from
the top of a built source tree with C<plackup examples/todo/app.psgi>.

=for example begin

    use strict;
    use warnings;
    use Dravik::PSGI;
    use HTTP::Request::Common qw(GET PUT);
    use Plack::Test;

    mkdir $_ or die "$_: $!" for qw(hello hello/Main hello/public);
    my %files = (
        'hello/Main/Main.pl'   => "package Hello; our \@IVARS = qw(name);\n"
                                . "sub awake { \$_[0]{name} //= 'world'; return }\n'Hello';\n",
        'hello/Main/Main.html' => qq{<p>Hello, <ry:value key="name"/>!</p>\n},
        'hello/public/hi.txt'  => "hi\n",
    );
    for my $file (sort keys %files) {
        open(my $out, '>', $file) or die "$file: $!";
        print {$out} $files{$file};
        close $out;
    }

    my $test = Plack::Test->create(Dravik::PSGI->new(root => 'hello')->to_app);
    for my $request (GET('/'), GET('/hi.txt'), GET('/Nothing'), PUT('/')) {
        my $response = $test->request($request);
        print $response->code, ' ', $response->header('Content-Type'), "\n";
    }
    print $test->request(GET '/')->content;

=for example end

It prints:

=for example output

    200 text/html; charset=utf-8
    200 text/plain; charset=utf-8
    404 text/html; charset=utf-8
    405 text/plain; charset=utf-8
    <p>Hello, world!</p>

=head1 OPTIONS

=over 4

=item root => DIRECTORY

The application's folder (required).

=item session_idle => SECONDS

How long a session lives unused; 1800 (30 minutes) when not given.

=item session_limit => COUNT

How many sessions the process keeps at most; 10,000 when not given.  A
new session past the bound makes room by dropping expired sessions, then
the least recently used ones, so memory is bounded however many clients
come.

=item load_once => BOOLEAN

True: component and application scripts run only the first time they are
needed, not again when they change (for production).  False: an edited
file runs again at the next request (the default, for development).  This
is the framework's flag for the whole process
(C<< RyApplication->setLoadOnceOnly_ >>); it is set when the option is
given.

=item max_body => BYTES

The largest request body taken; 1048576 (1 MB) when not given.

=back

=head1 WHAT A REQUEST GETS

=over 4

=item methods

C<GET>, C<HEAD> and C<POST>.  Any other method is refused with 405 and
C<Allow: GET, HEAD, POST>.  C<HEAD> runs the request cycle as C<GET> does
(the page is drawn to know its length) and answers the same headers
without the body.

=item static files

A path naming a file under the folder's F<public/> serves that file:
F<public/style.css> is F</style.css>.  Its C<Content-Type> comes from its
extension (L<Plack::MIME>; text types are sent as UTF-8), with
C<Content-Length> and C<Last-Modified>; C<POST> to it is a 405 with
C<Allow: GET, HEAD>.  A path that names a component (F</About> when the
folder has F<About/About.html>) goes to the framework even when
F<public/> holds a file of that name.  Nothing outside F<public/> is
served: the file's path with every symbolic link resolved must lie
inside F<public/> (a link pointing out is a 404), hidden files (a segment
starting with C<.>) and directories are 404, and a path with a C<..>
segment or a NUL byte, written plainly or %-escaped, is a 400.

=item pages

Every other path runs the framework's request cycle: the method, the
path, the query, the form's fields and the cookies go in, as text decoded
from UTF-8.  Form bodies are C<application/x-www-form-urlencoded> or
C<multipart/form-data>; of a multipart body only the text fields are
taken (file uploads are skipped, never stored).  A name given twice keeps
its last value.  The response carries the framework's status (200, 303
to the page an action went to, 404 for a path naming no component, 500
for an error in a template or a Perl sub, showing the error), its headers, C<Content-Length>, and the page as
UTF-8.  A new session gets the cookie
C<ry_session=ID; Path=/; HttpOnly; SameSite=Lax>; an unknown, expired or
forged session id gets a new session; a link or form of an older page
(or a forged action id) runs nothing and draws the page again.

=back

=head1 LIMITS AND BAD REQUESTS

Every one of these is answered with a one-line plain-text reason, and the
next request is served as usual:

    400  a path with ".." or NUL; a malformed %-escape in the query or a
         URL-encoded body; names or values that are not UTF-8; a
         malformed multipart body (no or bad boundary, a part without a
         field name, truncated); a body shorter than its Content-Length
    405  a method other than GET, HEAD, POST (POST to a static file)
    413  a body over max_body (sent with "Connection: close")
    415  a non-empty body of another type
    500  an error of this module itself, reported on psgi.errors

A body whose C<Content-Length> is over C<max_body> is refused before any
of it is read; a chunked body without a length is read up to the limit
and then refused.  Servers may read bodies themselves before the
application sees them: Starman and C<plackup>'s default server read the
whole body first (Starman into a temporary file when it is large), so in
front of them the limit to set is the proxy's (nginx's
C<client_max_body_size>).

=head1 SESSIONS AND WORKERS

Sessions (and with them every component's state) live in the memory of
the process that made them.  With one process (C<plackup>) that is all
there is to know.

With several worker processes (C<starman --preload-app --workers 4>)
each worker has sessions of its own.  The application is loaded before
the workers fork (C<--preload-app>); a worker forked that way serves
requests as the parent would (GNUstep and the Perl interpreter carry over
C<fork>, and session ids come from the kernel's random source in each
worker).  But Starman hands each connection to whichever worker is free,
so a client's next request may reach a worker that does not know its
session: it then gets a new, empty session, and its list seems lost.
Several workers therefore need session affinity: run one server process
per port and put a proxy in front that sends each C<ry_session> cookie
to the same backend, for example with nginx:

    upstream todo {
        hash $cookie_ry_session consistent;
        server 127.0.0.1:5001;
        server 127.0.0.1:5002;
    }
    server {
        listen 80;
        client_max_body_size 1m;
        location / { proxy_pass http://todo; }
    }

with one single-worker server behind each address
(C<starman --workers 1 --listen 127.0.0.1:5001 app.psgi>, ...).  The same
holds for several machines.  A client without the cookie yet may land
anywhere; the backend that answers it sets the cookie, and the hash keeps
it there afterwards.  When a backend stops, its sessions are gone.

The framework answers one request at a time per process: use a
single-process or pre-forking server, not a threaded one.  Pages link to
absolute paths (F</Main?...>), so an application is served at the root of
its host, not mounted under a prefix.

=head1 SEE ALSO

L<Dravik>, L<PSGI>, L<Plack>, L<plackup>, L<Starman>.

=cut
