# The to-do application as a PSGI application.  From the top of the
# source tree, after building:
#
#     plackup examples/todo/app.psgi                      # one process
#     starman --preload-app examples/todo/app.psgi        # several workers
#
# The modules come from @INC (an installed Dravik, or -I, PERL5LIB); when
# they are not there, from the build directory of this source tree
# (build/blib, found from this file's place).  Sessions live in the worker process that
# made them: see "SESSIONS AND WORKERS" in perldoc lib/Dravik/PSGI.pm.
use strict;
use warnings;
use File::Basename ();
use Cwd ();

my $here;
BEGIN {
    $here = Cwd::abs_path(File::Basename::dirname(__FILE__));
    my $blib = "$here/../../build/blib";
    unshift @INC, "$blib/lib", "$blib/arch"
        unless grep { !ref && -f "$_/Dravik/PSGI.pm" } @INC;
}
use Dravik::PSGI;

Dravik::PSGI->new(root => $here)->to_app;
