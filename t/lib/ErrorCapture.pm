package ErrorCapture;

# What the Perl tests compare of errors and warnings: their text without
# the " at FILE line N." that Perl appends.

use strict;
use warnings;
use Exporter 'import';

our @EXPORT_OK = qw(message error_of warnings_of);

sub message { my ($error) = @_; return $error =~ s/ at \S+ line \d+\.\n\z//r }

# Runs code; answers its error's message, or undef when it lived.
sub error_of {
    my ($code) = @_;
    return undef if eval { $code->(); 1 };
    return message($@);
}

# Runs code; answers the messages of the warnings it gave.
sub warnings_of {
    my ($code) = @_;
    my @warnings;
    local $SIG{__WARN__} = sub { push @warnings, message($_[0]) };
    $code->();
    return @warnings;
}

1;
