# HttpLoad::Connection -- one HTTP/1.1 connection to a loopback server,
# kept alive across requests as a browser keeps it, for the load
# benchmark's clients (bench/http_load.pl).
#
#   my $connection = HttpLoad::Connection->new($port);
#   my $response = $connection->request(GET => '/', cookie => 'ry_session=...');
#   $response->{status}, $response->{headers}{'content-type'},
#   $response->{cookies}{ry_session}, $response->{body}, $response->{seconds}
#   $connection->close;
#
# Bodies are read by Content-Length, chunked transfer coding, or (for a
# response without either) up to the end of the connection.  Any fault
# (refused, closed early, malformed, silent past the timeout) dies with
# a message naming the request.  It is deliberately small: the clients
# share the machine with the server, so every microsecond the client
# spends is one the server does not get.
package HttpLoad::Connection;
use strict;
use warnings;
use IO::Socket::INET;
use IO::Select;
use Socket qw(IPPROTO_TCP TCP_NODELAY);
use Time::HiRes qw(time);

our $TIMEOUT = 30;	# seconds a request may wait for its answer
our $TIMED_OUT = qr/: no answer within \d+ s$/;	# matches the error then

# new PORT --
#	A connection to 127.0.0.1:PORT, opened at its first request.
sub new {
    my ($class, $port) = @_;
    return bless { port => $port, socket => undef, buffer => '', requests => 0 }, $class;
}

# request METHOD, PATH, OPTIONS --
#	Sends one request and reads its whole response.  OPTIONS: cookie
#	(the Cookie header's value), form (a hash of field => text, sent as
#	an url-encoded body; text is bytes or characters, sent as UTF-8).
#	Answers { status, headers (lower-cased names), cookies (name =>
#	value from Set-Cookie), body (bytes), seconds (from connecting or
#	sending to the last byte) }.  The connection reopens by itself when the
#	previous response announced that the server closes it.  Dies on any fault.
sub request {
    my ($self, $method, $path, %option) = @_;
    my $start = time;
    $self->_connect unless $self->{socket};
    my $body = defined $option{form} ? form_body($option{form}) : undef;
    my $head = "$method $path HTTP/1.1\r\nHost: 127.0.0.1:$self->{port}\r\n";
    $head .= "Cookie: $option{cookie}\r\n" if defined $option{cookie};
    if (defined $body) {
	$head .= "Content-Type: application/x-www-form-urlencoded\r\n"
	    . 'Content-Length: ' . length($body) . "\r\n";
    }
    $self->_write($head . "\r\n" . ($body // ''), "$method $path");
    my $response = $self->_read_response("$method $path", $method eq 'HEAD');
    $response->{seconds} = time - $start;
    $self->{requests}++;
    return $response;
}

# close --
#	Closes the connection (a later request opens a new one).
sub close {
    my ($self) = @_;
    CORE::close($self->{socket}) if $self->{socket};
    $self->{socket} = undef;
    $self->{buffer} = '';
}

# form_body FORM --
#	FORM (field => text) as application/x-www-form-urlencoded bytes,
#	fields in sorted order, characters as UTF-8.
sub form_body {
    my ($form) = @_;
    return join '&', map { url_encode($_) . '=' . url_encode($form->{$_}) } sort keys %$form;
}

# url_encode TEXT --
#	TEXT percent-encoded as a form field (space as "+"), UTF-8 for
#	characters beyond a byte.
sub url_encode {
    my ($text) = @_;
    utf8::encode($text) if utf8::is_utf8($text);
    $text =~ s/([^A-Za-z0-9\-_.~ ])/sprintf('%%%02X', ord $1)/ge;
    $text =~ tr/ /+/;
    return $text;
}

sub _connect {
    my ($self) = @_;
    my $socket = IO::Socket::INET->new(PeerAddr => '127.0.0.1', PeerPort => $self->{port},
	Proto => 'tcp', Timeout => $TIMEOUT)
	or die "cannot connect to 127.0.0.1:$self->{port}: $@\n";
    setsockopt($socket, IPPROTO_TCP, TCP_NODELAY, 1);
    binmode $socket;
    $self->{socket} = $socket;
    $self->{buffer} = '';
}

sub _write {
    my ($self, $data, $what) = @_;
    local $SIG{PIPE} = 'IGNORE';
    while (length $data) {
	my $written = syswrite($self->{socket}, $data);
	if (!defined $written) {
	    $self->close;
	    die "$what: cannot send: $!\n";
	}
	substr($data, 0, $written, '');
    }
}

# Reads more bytes into the buffer; answers how many (0 at the end of
# the connection).  Dies after the timeout.
sub _fill {
    my ($self, $what) = @_;
    my $select = IO::Select->new($self->{socket});
    unless ($select->can_read($TIMEOUT)) {
	$self->close;
	die "$what: no answer within $TIMEOUT s\n";
    }
    my $read = sysread($self->{socket}, $self->{buffer}, 65536, length $self->{buffer});
    if (!defined $read) {
	my $error = $!;
	$self->close;
	die "$what: cannot read: $error\n";
    }
    return $read;
}

# Reads bytes until the buffer holds $pattern; answers what precedes it
# and takes it and the pattern out of the buffer.  Dies at the end of
# the connection.
sub _read_until {
    my ($self, $pattern, $what) = @_;
    while (1) {
	my $at = index($self->{buffer}, $pattern);
	if ($at >= 0) {
	    my $text = substr($self->{buffer}, 0, $at);
	    substr($self->{buffer}, 0, $at + length $pattern, '');
	    return $text;
	}
	next if $self->_fill($what);
	$self->close;
	die "$what: the server closed the connection before the response was complete\n";
    }
}

# Reads exactly $count bytes.
sub _read_bytes {
    my ($self, $count, $what) = @_;
    while (length($self->{buffer}) < $count) {
	next if $self->_fill($what);
	$self->close;
	die "$what: the server closed the connection inside a body of $count bytes\n";
    }
    return substr($self->{buffer}, 0, $count, '');
}

sub _read_response {
    my ($self, $what, $isHead) = @_;
    my $head = $self->_read_until("\r\n\r\n", $what);
    my ($statusLine, @lines) = split /\r\n/, $head;
    my ($version, $status) = $statusLine =~ m{^HTTP/(1\.[01]) (\d{3})}
	or do { $self->close; die "$what: malformed status line \"$statusLine\"\n" };
    my (%headers, %cookies);
    for my $line (@lines) {
	my ($name, $value) = $line =~ /^([^:\s]+):\s*(.*?)\s*$/
	    or do { $self->close; die "$what: malformed header line \"$line\"\n" };
	$name = lc $name;
	$headers{$name} = exists $headers{$name} ? "$headers{$name}, $value" : $value;
	$cookies{$1} = $2 if $name eq 'set-cookie' && $value =~ /^([^=;\s]+)=([^;]*)/;
    }
    my $body = $self->_read_body(\%headers, $status, $isHead, $what);
    my $connection = lc($headers{connection} // '');
    $self->close if $connection eq 'close' || ($version eq '1.0' && $connection ne 'keep-alive');
    return { status => $status, headers => \%headers, cookies => \%cookies, body => $body };
}

sub _read_body {
    my ($self, $headers, $status, $isHead, $what) = @_;
    return '' if $isHead || $status == 204 || $status == 304 || $status < 200;
    if (lc($headers->{'transfer-encoding'} // '') eq 'chunked') {
	my $body = '';
	while (1) {
	    my $line = $self->_read_until("\r\n", $what);
	    my ($size) = $line =~ /^([0-9A-Fa-f]+)/
		or do { $self->close; die "$what: malformed chunk size \"$line\"\n" };
	    $size = hex $size;
	    if ($size == 0) {
		# Trailer fields, if any, end with an empty line.
		1 while length $self->_read_until("\r\n", $what);
		return $body;
	    }
	    $body .= $self->_read_bytes($size, $what);
	    next unless length $self->_read_until("\r\n", $what);
	    $self->close;
	    die "$what: a chunk is longer than its size $size\n";
	}
    }
    if (defined $headers->{'content-length'}) {
	my ($length) = $headers->{'content-length'} =~ /^(\d+)$/
	    or do { $self->close; die "$what: malformed Content-Length \"$headers->{'content-length'}\"\n" };
	return $self->_read_bytes($length, $what);
    }
    # Neither: the body runs to the end of the connection.
    1 while $self->_fill($what);
    my $body = $self->{buffer};
    $self->close;
    return $body;
}

1;
