# The example application (examples/todo) used as a browser would.
use strict;
use warnings;
use Test::More;
use FindBin ();
use lib "$FindBin::Bin/lib";
use Dravik;
use RyClient;

my $app = BqDravikApplication->alloc->initWithRoot_("$FindBin::Bin/../examples/todo");
my $client = RyClient->new($app);

sub items { [ $client->html =~ m{<li>(.*?)</li>}g ] }

is($client->get('/')->status, 200, 'the list');
like($client->html, qr{<h1>To do \(0\)</h1>}, 'starts empty');
$client->submit('Add', ['Buy milk']);
$client->submit('Add', ['Write <report>', 1]);
like($client->html, qr{<h1>To do \(2\)</h1>}, 'two items added through the form');
like(items()->[1], qr{<strong>!</strong>.*Write &lt;report&gt;}, 'the checkbox marks it urgent; the title is escaped');
$client->follow('done', 0);
like(items()->[0], qr{<s>Buy milk</s>}, 'done inside the list marks its own item');
unlike(items()->[1], qr{<s>}, '... and no other');
$client->follow('remove', 1);
is(scalar @{ items() }, 1, 'remove takes its item out');
$client->follow('About this list');
like($client->html, qr{<h1>About this list</h1>}, 'an action goes to the page of a class defined in Perl');
like($client->html, qr{<footer>}, 'with the footer component');
$client->follow('Back to the list');
like(items()->[0], qr{Buy milk}, 'the list is kept in the session');

my $other = RyClient->new($app);
$other->get('/');
like($other->html, qr{<h1>To do \(0\)</h1>}, 'another session has its own list');

my $render = "$FindBin::Bin/../examples/todo/render.pl";
my $out = `$^X @{[ map { "-I$_" } grep { !ref } @INC ]} $render 2>&1`;
is($?, 0, 'render.pl runs') or diag $out;
like($out, qr{== GET /About.*About this list}s, 'and shows the pages');

done_testing;
