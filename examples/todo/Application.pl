# The application's own script: it runs when the application first wakes.
# Its package answers the application's key-value access and request-cycle
# calls; the hash of $self lives as long as the application.
package TodoApp;
use strict;
use warnings;

our @IVARS = qw(started requests);

sub awake {
    my $self = shift;
    $self->{started} = scalar localtime;
    $self->{requests} = 0;
    return;
}

# Counts the requests of every session.  Answering undef lets the page
# answer; answering an element would replace the page.
sub willPrepareForRequestInContext {
    my ($self, $request, $context) = @_;
    $self->{requests}++;
    return;
}

__PACKAGE__;
