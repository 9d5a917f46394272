package Vantle::TestSupport;

# Subs and classes for the library's own tests and the soak test: never
# installed, not meant for applications.  See tests/support/TestSupport.mm.

use strict;
use warnings;
use Vantle ();
use XSLoader;

our $VERSION = $Vantle::VERSION;

XSLoader::load('Vantle::TestSupport', $VERSION);

1;
