# A Perl-scripted application driven through the framework's request
# cycle: the order of the calls, form values, actions, sessions, errors.
use strict;
use warnings;
use Test::More;
use File::Temp ();
use FindBin ();
use lib "$FindBin::Bin/lib";
use Dravik;
use RyClient;

my $root = File::Temp::tempdir(CLEANUP => 1);
sub write_file {
    my ($path, $text) = @_;
    mkdir "$root/$1" if $path =~ m{^(\w+)/};
    open my $fh, '>', "$root/$path" or die "$path: $!";
    print $fh $text;
    close $fh;
}

write_file('Main/Main.pl', <<'PERL');
package Cycle::Main;
use strict;
use warnings;
our @IVARS = qw(name list item i picked);
our @CALLS;
sub awake { push @CALLS, 'awake'; $_[0]{list} ||= [qw(a b c)]; return }
sub willPrepareForRequestInContext { push @CALLS, 'willPrepare'; return }
sub didPrepareForRequestInContext { push @CALLS, 'didPrepare'; return }
sub willGenerateResponseInContext { push @CALLS, 'willGenerate'; return }
sub didGenerateResponseInContext { push @CALLS, 'didGenerate'; return }
sub setName { my ($self, $value) = @_; push @CALLS, "setName($value)"; $self->{name} = $value; return }
sub pick { my $self = shift; push @CALLS, "pick($self->{item},$self->{i})"; $self->{picked} = $self->{item}; return }
sub save { push @CALLS, 'save'; return }
sub fail { die "broken <b>&</b>\n" }
sub other { 'Other' }
'Cycle::Main';
PERL
write_file('Main/Main.html', <<'HTML');
<p id="name"><ry:value key="name"/></p><p id="picked"><ry:value key="picked"/></p>
<ry:repeat list="list" item="item" index="i"><ry:link action="pick">pick</ry:link></ry:repeat>
<ry:link action="fail">fail</ry:link> <ry:link action="other">other</ry:link>
<ry:form><ry:textfield key="name"/><ry:submit action="save" value="Save"/></ry:form>
HTML
write_file('Other/Other.html', "<p id=\"other\">the other page</p>\n");
write_file('Shelf/Shelf.pl', <<'PERL');
package Book;
sub new { my ($class, %fields) = @_; bless {%fields}, $class }
sub shout { uc $_[0]{title} }
sub setTitle { $_[0]{title} = "~$_[1]" }
package Cycle::Shelf;
sub awake { $_[0]{books} ||= [ map { Book->new(title => $_) } qw(emma ulysses) ]; return }
sub take { my $self = shift; $self->{taken} = ref($self->{book}) . ' ' . $self->{book}->shout; return }
'Cycle::Shelf';
PERL
write_file('Shelf/Shelf.html', <<'HTML');
<ry:repeat list="books" item="book"><li><ry:value key="book.title"/> <ry:value key="book.shout"/>
<ry:value key="book.missing"/><ry:link action="take">take</ry:link></li></ry:repeat><p id="taken"><ry:value key="taken"/></p>
HTML

my $app = BqDravikApplication->alloc->initWithRoot_($root);
sub shown { my ($client, $id) = @_; $client->html =~ m{<p id="$id">(.*?)</p>} ? $1 : undef }

subtest 'one request cycle calls the component in order' => sub {
    my $client = RyClient->new($app);
    is($client->get('/')->status, 200, 'the first page');
    @Cycle::Main::CALLS = ();
    $client->submit('Save', ['Ann']);
    is_deeply(\@Cycle::Main::CALLS,
        [qw(awake willPrepare setName(Ann) didPrepare save willGenerate didGenerate)],
        'awake, prepare, the form, the action, generate');
    is(shown($client, 'name'), 'Ann', 'the page shows the value the form set');
};

subtest 'form values reach only the keys the page bound' => sub {
    my $client = RyClient->new($app);
    $client->get('/');
    $client->submit('Save', ['Bob'], { picked => 'forged', name => 'forged', f999 => 'x' });
    is(shown($client, 'name'), 'Bob', 'the bound field');
    is(shown($client, 'picked'), '', 'a field named as an unbound key changes nothing');
};

subtest 'an action inside a repetition sees the item it was drawn with' => sub {
    my $client = RyClient->new($app);
    $client->get('/');
    @Cycle::Main::CALLS = ();
    $client->follow('pick', 1);
    ok((grep { $_ eq 'pick(b,1)' } @Cycle::Main::CALLS), 'the second link picks b')
        or diag explain \@Cycle::Main::CALLS;
    is(shown($client, 'picked'), 'b', 'and the page shows it');
    my $stale = $client->link_to('pick', 2);
    $client->get('/');
    @Cycle::Main::CALLS = ();
    $client->get($stale);
    ok(!(grep { /^pick/ } @Cycle::Main::CALLS), 'a link of an older rendering runs nothing');
    is($client->get('/Main?r=999999&a=0')->status, 200, 'a forged action id: the page again');
};

subtest 'state lives in the session, one per client' => sub {
    my ($ann, $bob) = (RyClient->new($app), RyClient->new($app));
    $ann->get('/');
    $ann->submit('Save', ['Ann']);
    $bob->get('/');
    is(shown($bob, 'name'), '', 'a second session starts fresh');
    isnt($bob->session, $ann->session, 'with an id of its own');
    $ann->get('/');
    is(shown($ann, 'name'), 'Ann', 'the first keeps its value');
    my $forged = RyClient->new($app);
    $forged->{session} = 'f' x 32;
    $forged->get('/');
    isnt($forged->session, 'f' x 32, 'an unknown session id gets a new session');
};

subtest 'navigation and errors' => sub {
    my $client = RyClient->new($app);
    $client->get('/');
    $client->follow('other');
    is($client->redirected_to, '/Other', 'an action answering a name sends the browser there');
    is(shown($client, 'other'), 'the other page', '... which shows that page');
    $client->get('/');
    my $response = $client->follow('fail');
    is($response->status, 500, 'a die in an action is a server error');
    like($client->html, qr/Perl Error/, 'the page names the exception');
    like($client->html, qr/broken &lt;b&gt;&amp;&lt;\/b&gt;/, 'and shows its reason escaped');
    is($client->get('/')->status, 200, 'the next request is served');
    is($client->get('/Nothing')->status, 404, 'an unknown component');
    is($client->get('/../Main')->status, 404, 'a path outside the application');
};

subtest 'Perl objects in a page read as Perl code reads them' => sub {
    my $client = RyClient->new($app);
    is($client->get('/Shelf')->status, 200, 'a list of blessed hashes') or diag $client->html;
    like($client->html, qr{<li>emma EMMA\n<a}, 'entries, methods, and a missing entry as nothing');
    $client->follow('take', 1);
    is(shown($client, 'taken'), 'Book ULYSSES', 'the item of an action is the object itself');
    my $book = Book->new(title => 'x');
    my $books = NSArray->arrayWithObject_($book);    # Foundation sees a BqPerlObject
    $books->setValue_forKey_('dune', 'title');
    $books->setValue_forKey_('new', 'year');
    is_deeply([@$book{qw(title year)}], ['~dune', 'new'], 'writes go to the setter, else the entry');
    is_deeply([ @{ $books->valueForKey_('shout') } ], ['~DUNE'], 'Foundation key-value coding reads them');
};

subtest 'many requests' => sub {
    my @clients = map { RyClient->new($app) } 1 .. 3;
    my $ok = 0;
    for my $round (1 .. 100) {
        my $client = $clients[ $round % 3 ];
        $client->get('/');
        $ok++ if $client->submit('Save', ["n$round"])->status == 200;
    }
    is($ok, 100, 'every post is answered');
};

done_testing;
