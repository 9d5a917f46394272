#!/usr/bin/perl
# Drives the to-do application in this process through the framework's
# own request objects, as a web server would, and prints what it answers:
# the first page, a form post that adds two items, an action inside the
# list ("done"), an action that goes to another page, and that page's
# way back.  Run from the top of the source tree after building:
#
#     perl -Mblib=build examples/todo/render.pl
use strict;
use warnings;
use FindBin ();
use Dravik;

my $app = BqDravikApplication->alloc->initWithRoot_($FindBin::Bin);
my $session;    # the ry_session cookie, as a browser keeps it

# One request; answers the page's HTML after printing the exchange.
sub request {
    my ($method, $uri, $form) = @_;
    my $request = RyRequest->requestWithMethod_URI_formValues_cookies_(
        $method, $uri, $form, $session ? { ry_session => $session } : undef);
    my $response = $app->handleRequest_($request);
    $session //= $response->sessionId;
    my $html = $response->content;
    my %headers = @{ Vantle::pl($response->headers) };
    print "== $method $uri", ($form ? ' ' . join('&', map {"$_=$form->{$_}"} sort keys %$form) : ''),
        "\n-- ", $response->status, ($headers{Location} ? " Location: $headers{Location}" : ''),
        "\n", $html, "\n";
    # An action that goes to another page answers with its address.
    return request(GET => $headers{Location}) if $response->status == 303;
    die "request failed\n" unless $response->status == 200;
    return $html;
}

# The URL of the link whose text is $text, and the parts of the form.
sub link_to {
    my ($html, $text) = @_;
    $html =~ m{<a href="([^"]+)">\Q$text\E</a>} or die "no link \"$text\"\n";
    (my $url = $1) =~ s/&amp;/&/g;
    return $url;
}

sub form_of {
    my ($html) = @_;
    my ($action) = $html =~ m{<form method="post" action="([^"]+)"} or die "no form\n";
    my ($text) = $html =~ m{<input type="text" name="([^"]+)"};
    my ($box) = $html =~ m{<input type="checkbox" name="([^"]+)"};
    my ($submit) = $html =~ m{<input type="submit" name="([^"]+)"};
    $action =~ s/&amp;/&/g;
    return ($action, $text, $box, $submit);
}

sub add_item {
    my ($html, $title, $urgent) = @_;
    my ($action, $text, $box, $submit) = form_of($html);
    my %form = ($text => $title, $submit => 'Add');
    $form{$box} = 1 if $urgent;
    return request(POST => $action, \%form);
}

my $html = request(GET => '/');
$html = add_item($html, 'Buy milk');
$html = add_item($html, 'Write the report', 1);
$html = request(GET => link_to($html, 'done'));
$html = request(GET => link_to($html, 'About this list'));
request(GET => link_to($html, 'Back to the list'));
