# The application the load benchmark (bench/http_load.pl) serves under
# Starman, chosen by the environment:
#
#   HTTP_LOAD_APP=hello          a minimal PSGI application: "Hello" for
#                                every request, the baseline
#   HTTP_LOAD_APP=todo           examples/todo/app.psgi as a user serves it
#   HTTP_LOAD_SESSION_LIMIT=N    with todo: the same folder served by
#                                Dravik::PSGI keeping at most N sessions
#
# Either answer carries an X-Bench-Worker header with the pid of the
# worker that answered.  Sessions live in the worker that made them and
# Starman has no session affinity, so a client opening a new connection
# learns from it which worker it reached, and which of its session
# cookies to send there.
use strict;
use warnings;
use File::Basename ();
use Cwd ();
use Plack::Util ();

my $todo;
BEGIN {
    $todo = Cwd::abs_path(File::Basename::dirname(__FILE__)) . '/../examples/todo';
}

my $which = $ENV{HTTP_LOAD_APP} // '';
my $limit = $ENV{HTTP_LOAD_SESSION_LIMIT};

my $hello = sub {
    return [200, ['Content-Type' => 'text/plain; charset=utf-8', 'Content-Length' => 6], ["Hello\n"]];
};

my $app;
if ($which eq 'hello') {
    $app = $hello;
} elsif ($which eq 'todo' && defined $limit) {
    require Dravik::PSGI;
    $app = Dravik::PSGI->new(root => $todo, session_limit => $limit)->to_app;
} elsif ($which eq 'todo') {
    $app = Plack::Util::load_psgi("$todo/app.psgi");
} else {
    die "http_load.psgi: HTTP_LOAD_APP must be hello or todo, not \"$which\"\n";
}

# Every response names its worker.
sub {
    my $response = $app->($_[0]);
    push @{ $response->[1] }, 'X-Bench-Worker' => $$;
    return $response;
};
