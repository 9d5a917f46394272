# The to-do application as a PSGI application.  From the top of the
# source tree, after building:
#
#     plackup examples/todo/app.psgi                      # one process
#     starman --preload-app examples/todo/app.psgi        # several workers
#
# In a source tree that has been built, the modules come from its build
# directory (build/blib, found from this file's place), else from where
# Dravik is installed.  Sessions live in the worker process that
# made them: see "SESSIONS AND WORKERS" in perldoc lib/Dravik/PSGI.pm.
use strict;
use warnings;
use File::Basename ();
use File::Spec ();

my $here;
BEGIN { $here = File::Spec->rel2abs(File::Basename::dirname(__FILE__)) }
BEGIN {
    my $blib = "$here/../../build/blib";
    unshift @INC, "$blib/lib", "$blib/arch" if -f "$blib/lib/Dravik/PSGI.pm";
}
use Dravik::PSGI;

Dravik::PSGI->new(root => $here)->to_app;
