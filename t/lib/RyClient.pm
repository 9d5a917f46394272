package RyClient;
# A browser stand-in for tests: it sends requests to an application in
# this process through the framework's request objects, keeps the
# session cookie like a browser, and finds links and form fields in the
# HTML it gets back.
use strict;
use warnings;
use Carp ();

sub new {
    my ($class, $app) = @_;
    return bless { app => $app, session => undef }, $class;
}

sub session { $_[0]{session} }

# Sends one request; answers the response object (status, content, ...)
# and remembers the page's HTML for the helpers below.
sub request {
    my ($self, $method, $uri, $form) = @_;
    my $cookies = defined $self->{session} ? { ry_session => $self->{session} } : undef;
    my $response = $self->{app}->handleRequest_(
        RyRequest->requestWithMethod_URI_formValues_cookies_($method, $uri, $form, $cookies));
    $self->{session} = $response->sessionId;
    $self->{html} = $response->content;
    $self->{redirected_to} = undef;
    if ($response->status == 303) {
        # As a browser does: the page the response names, fetched.
        my %headers = @{ Vantle::pl($response->headers) };
        $response = $self->get($headers{Location});
        $self->{redirected_to} = $headers{Location};
    }
    return $response;
}

# Where the last request was sent on by a redirection, or undef.
sub redirected_to { $_[0]{redirected_to} }

sub get { $_[0]->request(GET => $_[1]) }
sub html { $_[0]{html} }

# The URL of the n-th (from 0) link whose text is $text on the last page.
sub link_to {
    my ($self, $text, $n) = @_;
    my @urls = $self->{html} =~ m{<a href="([^"]+)">\Q$text\E</a>}g;
    my $url = $urls[$n // 0] // Carp::croak("no link \"$text\" in:\n$self->{html}");
    $url =~ s/&amp;/&/g;
    return $url;
}

sub follow { $_[0]->get($_[0]->link_to($_[1], $_[2])) }

# Posts the page's form with the button labelled $label pressed.
# $values are what is typed into the text fields and checkboxes, in the
# order the page draws them (undef leaves a field out, as a browser does
# for an unchecked box); %$extra are further raw fields to send.
sub submit {
    my ($self, $label, $values, $extra) = @_;
    my ($action) = $self->{html} =~ m{<form method="post" action="([^"]+)"}
        or Carp::croak("no form in:\n$self->{html}");
    $action =~ s/&amp;/&/g;
    my %form = %{ $extra // {} };
    my @fields = $self->{html} =~ m{<input type="(?:text|checkbox)" name="([^"]+)"}g;
    for my $i (0 .. $#fields) {
        $form{ $fields[$i] } = $values->[$i] if defined $values->[$i];
    }
    my ($button) = $self->{html} =~ m{<input type="submit" name="([^"]+)" value="\Q$label\E"}
        or Carp::croak("no button \"$label\"");
    $form{$button} = $label;
    return $self->request(POST => $action, \%form);
}

1;
