package PsgiServer;

# A PSGI application served for a test by Plack's single-process server
# (HTTP::Server::PSGI, what plackup runs by default) in a child process,
# on a loopback port chosen by the system.

use strict;
use warnings;
use Carp ();
use IO::Select ();
use IO::Socket::INET ();
use Time::HiRes ();
use Spawn ();

# start(CLASS, PSGI_FILE, timeout => SECONDS) --
#	Serves the application of PSGI_FILE and answers the server once it
#	has answered a request for /, within TIMEOUT seconds (default 30).
#	The port is bound before the child starts, so no other program can
#	take it meanwhile.  Croaks if the child exits or stays silent.
sub start {
    my ($class, $file, %opt) = @_;
    my $listen = IO::Socket::INET->new(LocalAddr => '127.0.0.1', LocalPort => 0,
        Listen => 16, ReuseAddr => 1, Proto => 'tcp')
        or Carp::croak("PsgiServer: cannot listen on loopback: $@");
    my $self = bless { port => $listen->sockport }, $class;
    $self->{pid} = Spawn::spawn(sub {
        require Plack::Util;
        require HTTP::Server::PSGI;
        my $app = Plack::Util::load_psgi($file);
        # A connection that sends nothing holds this server up for the
        # timeout: keep that shorter than a DevTools wait.
        HTTP::Server::PSGI->new(listen_sock => $listen, timeout => 10)->run($app);
    });
    close $listen;    # the child's copy alone: connections fail once it is gone
    $self->_wait_until_answering($opt{timeout} // 30);
    return $self;
}

# _wait_until_answering(TIMEOUT) --
#	Asks for / until an HTTP status line comes back.  Stops the server
#	and croaks if it exits or TIMEOUT seconds pass.
sub _wait_until_answering {
    my ($self, $timeout) = @_;
    my $deadline = Time::HiRes::time() + $timeout;
    while (Time::HiRes::time() < $deadline) {
        return if $self->_answers($deadline);
        if (!Spawn::running($self->{pid})) {
            my $status = $?;
            delete $self->{pid};
            Carp::croak("PsgiServer: the server exited (status $status)");
        }
        Time::HiRes::sleep(0.1);
    }
    $self->stop;
    Carp::croak("PsgiServer: no answer from the server in $timeout s");
}

# _answers(DEADLINE) --
#	Answers whether GET / gets an HTTP status line before DEADLINE.
sub _answers {
    my ($self, $deadline) = @_;
    my $socket = IO::Socket::INET->new(PeerAddr => '127.0.0.1', PeerPort => $self->{port},
        Proto => 'tcp', Timeout => 2) or return 0;
    print {$socket} "GET / HTTP/1.0\r\nHost: 127.0.0.1:$self->{port}\r\n\r\n";
    my $left = $deadline - Time::HiRes::time();
    return 0 unless $left > 0 && IO::Select->new($socket)->can_read($left);
    my $line = <$socket> // '';
    return $line =~ m{\AHTTP/1\.[01] \d{3} };
}

# port, url --
#	The server's port on 127.0.0.1, and its URL with no path.
sub port { $_[0]{port} }
sub url { "http://127.0.0.1:$_[0]{port}" }

# stop --
#	Stops the server; does nothing the second time.
sub stop {
    my ($self) = @_;
    Spawn::stop(delete $self->{pid}) if $self->{pid};
    return;
}

sub DESTROY { $_[0]->stop }

1;
