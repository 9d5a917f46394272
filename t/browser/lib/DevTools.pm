package DevTools;

# A client of the Chrome DevTools protocol: a WebSocket connection to a
# browser (RFC 6455, text messages of JSON), commands answered by id, and
# the events that arrive meanwhile kept until asked for.  Core modules
# only.  Every wait has a deadline: a browser that stops answering makes
# the call croak, never hang.

use strict;
use warnings;
use Carp ();
use Digest::SHA ();
use IO::Select ();
use IO::Socket::INET ();
use JSON::PP ();
use MIME::Base64 ();
use Time::HiRes ();

my $GUID = '258EAFA5-E914-47DA-95CA-C5AB0DC85B11';
my $JSON = JSON::PP->new->utf8->canonical;

# connect(CLASS, PORT, PATH, timeout => SECONDS) --
#	Opens the WebSocket ws://127.0.0.1:PORT/PATH and answers the client.
#	TIMEOUT (default 20) bounds this and each later call and wait.
#	Croaks when the browser refuses or answers no WebSocket handshake.
sub connect {
    my ($class, $port, $path, %opt) = @_;
    my $self = bless { timeout => $opt{timeout} // 20, buffer => '', next_id => 0, events => [] }, $class;
    $self->{socket} = IO::Socket::INET->new(PeerAddr => '127.0.0.1', PeerPort => $port,
        Proto => 'tcp', Timeout => $self->{timeout})
        or Carp::croak("DevTools: cannot connect to port $port: $@");
    $self->{select} = IO::Select->new($self->{socket});
    $self->_handshake($port, $path);
    return $self;
}

# _handshake(PORT, PATH) --
#	Sends the opening request and checks the answer's status and
#	Sec-WebSocket-Accept; bytes after the headers stay buffered.
sub _handshake {
    my ($self, $port, $path) = @_;
    my $key = MIME::Base64::encode_base64(join('', map { chr int rand 256 } 1 .. 16), '');
    $self->_write("GET $path HTTP/1.1\r\nHost: 127.0.0.1:$port\r\nUpgrade: websocket\r\n"
        . "Connection: Upgrade\r\nSec-WebSocket-Key: $key\r\nSec-WebSocket-Version: 13\r\n\r\n");
    my $deadline = $self->_deadline;
    my $end;
    $self->_fill($deadline) or Carp::croak('DevTools: no handshake answer')
        until ($end = index($self->{buffer}, "\r\n\r\n")) >= 0;
    my $head = substr($self->{buffer}, 0, $end + 4, '');
    my $accept = MIME::Base64::encode_base64(Digest::SHA::sha1($key . $GUID), '');
    Carp::croak("DevTools: no WebSocket handshake: $head")
        unless $head =~ m{\AHTTP/1\.1 101 } && $head =~ /^Sec-WebSocket-Accept:\s*\Q$accept\E\s*$/mi;
    return;
}

# call(METHOD, PARAMS, session => ID, timeout => SECONDS) --
#	Sends a command (to the target attached as session ID, if given)
#	and answers its result.  Croaks with the browser's error message,
#	or when no answer comes in time.
sub call {
    my ($self, $method, $params, %opt) = @_;
    my $id = ++$self->{next_id};
    my %message = (id => $id, method => $method, params => $params // {});
    $message{sessionId} = $opt{session} if defined $opt{session};
    $self->_send_frame(1, $JSON->encode(\%message));
    my $timeout = $opt{timeout} // $self->{timeout};
    my $deadline = $self->_deadline($timeout);
    while (1) {
        my $answer = $self->_next_message($deadline)
            // Carp::croak(sprintf 'DevTools: %s: no answer within %.0f s', $method, $timeout);
        next unless defined $answer->{id};    # an event: kept by _next_message
        next unless $answer->{id} == $id;     # the late answer of a call that timed out
        Carp::croak("DevTools: $method: $answer->{error}{message}") if $answer->{error};
        return $answer->{result};
    }
}

# wait_event(METHOD, session => ID, timeout => SECONDS) --
#	Answers the parameters of the first event METHOD (from session ID,
#	if given) that arrived since the last clear_events, waiting for
#	it if need be.  Croaks when none comes in time.
sub wait_event {
    my ($self, $method, %opt) = @_;
    my $match = sub {
        my ($event) = @_;
        return $event->{method} eq $method
            && (!defined $opt{session} || ($event->{sessionId} // '') eq $opt{session});
    };
    my $timeout = $opt{timeout} // $self->{timeout};
    my $deadline = $self->_deadline($timeout);
    while (1) {
        my $events = $self->{events};
        for my $i (0 .. $#$events) {
            return (splice @$events, $i, 1)[0]{params} if $match->($events->[$i]);
        }
        defined $self->_next_message($deadline)
            or Carp::croak(sprintf 'DevTools: no %s within %.0f s', $method, $timeout);
    }
}

# clear_events(session => ID) --
#	Forgets the events kept so far (those of session ID, if given), so
#	the next wait_event sees only what happens after.
sub clear_events {
    my ($self, %opt) = @_;
    $self->{events} = defined $opt{session}
        ? [ grep { ($_->{sessionId} // '') ne $opt{session} } @{ $self->{events} } ]
        : [];
    return;
}

# timeout --
#	The seconds each call and wait may take.
sub timeout { $_[0]{timeout} }

# close --
#	Closes the connection (without waiting for the browser's close).
sub close {
    my ($self) = @_;
    return unless $self->{socket};
    eval { $self->_send_frame(8, ''); 1 };
    CORE::close(delete $self->{socket});
    return;
}

# _next_message(DEADLINE) --
#	Reads one whole message and answers it decoded; events are also
#	kept for wait_event.  Answers undef at DEADLINE.
sub _next_message {
    my ($self, $deadline) = @_;
    my $data = '';
    while (1) {
        my ($fin, $opcode, $payload) = $self->_read_frame($deadline) or return undef;
        if ($opcode == 8) {
            Carp::croak('DevTools: the browser closed the connection');
        } elsif ($opcode == 9) {
            $self->_send_frame(10, $payload);
        } elsif ($opcode <= 2) {    # text, binary, or a continuation of either
            $data .= $payload;
            last if $fin;
        }
    }
    my $message = $JSON->decode($data);
    push @{ $self->{events} }, $message if defined $message->{method};
    return $message;
}

# _read_frame(DEADLINE) --
#	Answers (FIN, OPCODE, PAYLOAD) of the next frame, reading more
#	bytes until it is whole; answers the empty list at DEADLINE, leaving
#	a partial frame buffered.
sub _read_frame {
    my ($self, $deadline) = @_;
    while (1) {
        my @frame = $self->_frame_from_buffer;
        return @frame if @frame;
        $self->_fill($deadline) or return;
    }
}

# _frame_from_buffer --
#	Takes one whole frame off the front of the buffer and answers
#	(FIN, OPCODE, PAYLOAD); answers the empty list while it is partial.
sub _frame_from_buffer {
    my ($self) = @_;
    my $buffer = \$self->{buffer};
    return if length $$buffer < 2;
    my ($b0, $b1) = unpack 'CC', $$buffer;
    my ($length, $at) = ($b1 & 0x7f, 2);
    if ($length == 126) {
        return if length $$buffer < 4;
        ($length, $at) = (unpack('x2 n', $$buffer), 4);
    } elsif ($length == 127) {
        return if length $$buffer < 10;
        ($length, $at) = (unpack('x2 Q>', $$buffer), 10);
    }
    my $mask = '';
    if ($b1 & 0x80) {
        return if length $$buffer < $at + 4;
        ($mask, $at) = (substr($$buffer, $at, 4), $at + 4);
    }
    return if length $$buffer < $at + $length;
    my $payload = substr($$buffer, $at, $length);
    substr($$buffer, 0, $at + $length, '');
    $payload ^= substr($mask x (int($length / 4) + 1), 0, $length) if length $mask;
    return ($b0 & 0x80, $b0 & 0x0f, $payload);
}

# _send_frame(OPCODE, BYTES) --
#	Writes one final frame, masked as a client must.
sub _send_frame {
    my ($self, $opcode, $payload) = @_;
    my $length = length $payload;
    my $head = pack('C', 0x80 | $opcode)
        . ($length < 126 ? pack('C', 0x80 | $length)
         : $length < 65536 ? pack('C n', 0x80 | 126, $length)
         : pack('C Q>', 0x80 | 127, $length));
    my $mask = pack('N', int rand 2**32);
    $self->_write($head . $mask . ($payload ^ substr($mask x (int($length / 4) + 1), 0, $length)));
    return;
}

# _write(BYTES) --
#	Writes all of BYTES; croaks when the browser stops taking them
#	within the timeout.
sub _write {
    my ($self, $bytes) = @_;
    my $deadline = $self->_deadline;
    my $writer = IO::Select->new($self->{socket});
    while (length $bytes) {
        my $left = $deadline - Time::HiRes::time();
        Carp::croak('DevTools: the browser takes no more data') unless $left > 0 && $writer->can_write($left);
        my $done = syswrite($self->{socket}, $bytes);
        next if !defined $done && $!{EINTR};
        Carp::croak("DevTools: write: $!") unless defined $done;
        substr($bytes, 0, $done, '');
    }
    return;
}

# _fill(DEADLINE) --
#	Appends what the browser sent to the buffer, waiting until DEADLINE
#	at most; answers false if nothing came.  Croaks when the connection
#	is closed.
sub _fill {
    my ($self, $deadline) = @_;
    while (1) {
        my $left = $deadline - Time::HiRes::time();
        return 0 if $left <= 0;
        next unless $self->{select}->can_read($left);
        my $got = sysread($self->{socket}, $self->{buffer}, 65536, length $self->{buffer});
        next if !defined $got && $!{EINTR};
        Carp::croak("DevTools: read: $!") unless defined $got;
        Carp::croak('DevTools: the browser closed the connection') unless $got;
        return 1;
    }
}

# _deadline(TIMEOUT) --
#	Answers the time TIMEOUT (default: the client's) seconds from now.
sub _deadline {
    my ($self, $timeout) = @_;
    return Time::HiRes::time() + ($timeout // $self->{timeout});
}

1;
