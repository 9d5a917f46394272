package Chromium;

# A headless Chromium for a test: started with a profile of its own in a
# temporary folder and DevTools on a port it picks itself, stopped (with
# all its helper processes, and the folder removed) by stop or when the
# object goes away.

use strict;
use warnings;
use Carp ();
use File::Path ();
use File::Temp ();
use Time::HiRes ();
use Spawn ();

# find --
#	Answers the path of the chromium program on PATH (Debian's name,
#	then Ubuntu's), or undef when there is none.
sub find {
    for my $name (qw(chromium chromium-browser)) {
        for my $dir (grep { length } split /:/, $ENV{PATH} // '') {
            my $path = "$dir/$name";
            return $path if -f $path && -x _;
        }
    }
    return undef;
}

# start(CLASS, program => PATH, timeout => SECONDS) --
#	Starts PATH (default: find) headless and answers the browser once
#	it has written its DevTools port, within TIMEOUT seconds (default
#	30).  Croaks with the end of its log if it exits or stays silent.
sub start {
    my ($class, %opt) = @_;
    my $program = $opt{program} // find() // Carp::croak('Chromium: no chromium on PATH');
    my $self = bless { profile => File::Temp::tempdir('bq-chromium-XXXXXX', TMPDIR => 1) }, $class;
    $self->{log} = "$self->{profile}.log";
    $self->_write_preferences;
    my @flags = ('--headless=new', '--remote-debugging-port=0', "--user-data-dir=$self->{profile}",
        qw(--no-first-run --no-default-browser-check --disable-gpu --disable-extensions
           --disable-background-networking --disable-component-update --disable-sync
           --password-store=basic --use-mock-keychain));
    push @flags, '--no-sandbox' if $> == 0;    # Chromium refuses to sandbox as root
    $self->{pid} = Spawn::spawn(sub {
        # The browser must not inherit a sanitizer runtime meant for perl.
        delete @ENV{qw(LD_PRELOAD ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS)};
        open(STDIN, '<', '/dev/null') or die "stdin: $!";
        open(STDOUT, '>', $self->{log}) or die "$self->{log}: $!";
        open(STDERR, '>&', \*STDOUT) or die "stderr: $!";
        exec($program, @flags, 'about:blank') or die "exec $program: $!";
    });
    $self->_wait_for_port($opt{timeout} // 30);
    return $self;
}

# _write_preferences --
#	Writes the profile's preferences before the browser reads them:
#	no network prediction.  Chromium otherwise opens spare connections
#	to a server ahead of need, and a single-process server (plackup's
#	default) waits on such an idle connection while the request of
#	another tab or profile waits behind it.
sub _write_preferences {
    my ($self) = @_;
    my $dir = "$self->{profile}/Default";
    mkdir $dir or Carp::croak("Chromium: $dir: $!");
    open(my $out, '>', "$dir/Preferences") or Carp::croak("Chromium: $dir/Preferences: $!");
    print {$out} '{"net":{"network_prediction_options":2}}';
    close $out or Carp::croak("Chromium: $dir/Preferences: $!");
    return;
}

# _wait_for_port(TIMEOUT) --
#	Reads the port and the browser's WebSocket path from the file
#	DevToolsActivePort that Chromium writes in its profile.  Stops the
#	browser and croaks if it exits first or TIMEOUT seconds pass.
sub _wait_for_port {
    my ($self, $timeout) = @_;
    my $file = "$self->{profile}/DevToolsActivePort";
    my $deadline = Time::HiRes::time() + $timeout;
    while (1) {
        if (open(my $in, '<', $file)) {
            chomp(my ($port, $path) = <$in>);
            if ($port && $path) {
                @$self{qw(port path)} = ($port, $path);
                return;
            }
        }
        if (!Spawn::running($self->{pid})) {
            my $status = $?;
            delete $self->{pid};
            Carp::croak("Chromium exited (status $status):\n" . $self->stop_with_log);
        }
        last if Time::HiRes::time() > $deadline;
        Time::HiRes::sleep(0.1);
    }
    Carp::croak("Chromium wrote no DevTools port in $timeout s:\n" . $self->stop_with_log);
}

# port, path --
#	The DevTools port on 127.0.0.1, and the browser's WebSocket path.
sub port { $_[0]{port} }
sub path { $_[0]{path} }

# log_tail(LINES) --
#	Answers the last LINES (default 20) lines the browser printed, but
#	for its complaints about a missing D-Bus (there is none in a build
#	container, and headless Chromium needs none).
sub log_tail {
    my ($self, $lines) = @_;
    open(my $in, '<', $self->{log}) or return '';
    my @lines = grep { !m{:ERROR:dbus/} } <$in>;
    $lines //= 20;
    splice(@lines, 0, @lines - $lines) if @lines > $lines;
    return join '', @lines;
}

# stop_with_log --
#	Stops the browser and answers the end of its log.
sub stop_with_log {
    my ($self) = @_;
    my $tail = $self->log_tail;
    $self->stop;
    return $tail;
}

# stop --
#	Stops the browser and its helpers, and removes the profile and the
#	log.  Does nothing the second time.
sub stop {
    my ($self) = @_;
    Spawn::stop(delete $self->{pid}) if $self->{pid};
    if (my $profile = delete $self->{profile}) {
        File::Path::remove_tree($profile);
        unlink $self->{log};
    }
    return;
}

sub DESTROY { $_[0]->stop }

1;
