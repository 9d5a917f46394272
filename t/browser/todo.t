# The example to-do application served over HTTP and used in headless
# Chromium: what a person sees and does, read from the rendered DOM.
use strict;
use warnings;
use utf8;
use Test::More;
use FindBin ();
use lib "$FindBin::Bin/lib";
use Chromium;
use DevTools;
use DevTools::Page;
use PsgiServer;

my $chromium = Chromium::find()
    or plan skip_all => 'chromium is not installed (scripts/setup.sh installs it)';
eval { require Plack::Util; require HTTP::Server::PSGI; 1 }
    or plan skip_all => 'Plack is not installed (scripts/setup.sh installs it)';
binmode(Test::More->builder->$_, ':encoding(UTF-8)') for qw(output failure_output todo_output);

# However the test ends (a failure, a browser that stops answering, a
# signal), the browser and the server stop with it.
my ($server, $browser, $devtools);
END {
    local $?;    # stopping children must not change the test's exit status
    eval { $devtools->close } if $devtools;
    $browser->stop if $browser;
    $server->stop if $server;
}
$SIG{$_} = sub { die "killed by SIG$_[0]\n" } for qw(INT TERM HUP);
$SIG{ALRM} = sub { die "the browser test took over 150 s\n" };
alarm 150;

$server = PsgiServer->start("$FindBin::Bin/../../examples/todo/app.psgi");
$browser = Chromium->start(program => $chromium);
$devtools = DevTools->connect($browser->port, $browser->path);
my $base = $server->url;

# What the page shows: the heading, the message and each item of the
# list (its title, whether it is struck through as done, its links).
sub view {
    my ($page) = @_;
    return $page->evaluate(<<'JS');
({
  heading: document.querySelector('h1')?.textContent,
  message: document.querySelector('p.message')?.textContent ?? null,
  items: [...document.querySelectorAll('#items li')].map(li => ({
    title: li.querySelector('s, span.open')?.textContent,
    done: li.querySelector('s') ? 1 : 0,
    links: [...li.querySelectorAll('a')].map(a => a.textContent),
  })),
})
JS
}

# The page's address and rendered document (the start of it: an error
# page of the browser is long), to show when a test fails.
sub describe {
    my ($page) = @_;
    my $url = eval { $page->evaluate('location.href', timeout => 5) } // '?';
    my $html = $page->html;
    substr($html, 4000) = ' ...' if length $html > 4000;
    return "the page at $url:\n$html";
}

# Compares what the page shows with EXPECTED.  The steps of the
# scenario build on each other, so when they differ it prints the page
# and stops the scenario.
my $STOP = "the scenario stops at its first failure\n";
sub shows {
    my ($page, $expected, $name) = @_;
    my $view = view($page);
    my %got = map { $_ => $view->{$_} } keys %$expected;
    return 1 if is_deeply(\%got, $expected, $name);
    diag(describe($page));
    die $STOP;
}

sub add_item {
    my ($page, $title) = @_;
    $page->type('form input[type=text]', $title);
    $page->click($page->query('form input[type=submit][value="Add"]'));
}

# The cookie ry_session as the browser keeps it for the page's site.
sub session_cookie {
    my ($page) = @_;
    my $cookies = $page->call('Network.getCookies', { urls => ["$base/"] })->{cookies};
    my ($cookie) = grep { $_->{name} eq 'ry_session' } @$cookies;
    return $cookie;
}

my $page = DevTools::Page->open($devtools);
my $scenario = eval {
    $page->navigate("$base/");
    shows($page, { heading => 'To do (0)', items => [] }, 'a new visitor sees an empty list');

    add_item($page, 'Call Anna');
    shows($page, { heading => 'To do (1)', message => 'Added "Call Anna".',
        items => [ { title => 'Call Anna', done => 0, links => [qw(done remove)] } ] },
        'an item typed into the form and added with the button is listed');
    add_item($page, 'Buy milk');
    add_item($page, 'Grüße ✓');
    my $open = { done => 0, links => [qw(done remove)] };
    shows($page, { heading => 'To do (3)', message => 'Added "Grüße ✓".', items => [
        { title => 'Call Anna', %$open }, { title => 'Buy milk', %$open }, { title => 'Grüße ✓', %$open } ] },
        'a title outside ASCII comes back as typed');

    $page->click($page->link('done', '#items li:nth-child(2)'));
    my $done = { done => 1, links => ['remove'] };
    shows($page, { message => 'Done: Buy milk.', items => [
        { title => 'Call Anna', %$open }, { title => 'Buy milk', %$done }, { title => 'Grüße ✓', %$open } ] },
        'the "done" link of an item strikes that item through');
    $page->click($page->link('remove', '#items li:nth-child(1)'));
    my $list = { heading => 'To do (2)', items => [ { title => 'Buy milk', %$done }, { title => 'Grüße ✓', %$open } ] };
    shows($page, { %$list, message => 'Removed "Call Anna".' }, 'its "remove" link takes an item out');
    $page->reload;
    shows($page, $list, 'a reload shows the list kept in the session, and runs no action again');

    $page->click($page->link('About this list'));
    shows($page, { heading => 'About this list' }, 'the link to the about page');
    $page->click($page->link('Back to the list'));
    shows($page, $list, 'and back to the list, as it was');
    like($page->evaluate('location.pathname'), qr{\A/Main\z}, 'at the address of the list');
    $page->reload;
    shows($page, $list, 'so a reload there shows the list, not the page it came from');

    my $session = session_cookie($page);
    ok($session && $session->{httpOnly}, 'the session cookie is HttpOnly') or diag explain $session;
    is($session && $session->{sameSite}, 'Lax', 'and SameSite=Lax');
    unlike($page->evaluate('document.cookie'), qr/ry_session/, 'so the page\'s scripts do not see it');

    # A second profile: a browser context of its own, with no cookies.
    my $context = $devtools->call('Target.createBrowserContext')->{browserContextId};
    my $other = DevTools::Page->open($devtools, context => $context);
    $other->navigate("$base/");
    shows($other, { heading => 'To do (0)', items => [] }, 'another profile starts a session of its own');
    my $other_session = session_cookie($other);
    ok($session && $other_session && $other_session->{value} ne $session->{value}, 'with another cookie');
    $devtools->call('Target.disposeBrowserContext', { browserContextId => $context });
    $page->navigate("$base/");
    shows($page, $list, 'while the first profile\'s session keeps its list');
    1;
};
if (!$scenario && $@ ne $STOP) {
    fail("the scenario runs to its end: $@");
    diag(describe($page));
    diag("the browser's log:\n", $browser->log_tail);
}
alarm 0;
done_testing;
