# Editing a component's Perl file while the application runs: the next
# request of every session sees the edit, as after a restart, but the
# sessions keep their state.
use strict;
use warnings;
use Test::More;
use File::Temp ();
use FindBin ();
use lib "$FindBin::Bin/lib";
use Dravik;
use RyClient;

my $root = File::Temp::tempdir(CLEANUP => 1);
mkdir "$root/Main" or die $!;
sub write_file {
    my ($path, $text) = @_;
    open my $fh, '>', "$root/$path" or die "$path: $!";
    print $fh $text;
    close $fh;
}
sub component {
    my ($step, $ivars, @extra) = @_;
    write_file('Main/Main.pl', join "\n", 'package Reload::Main;', 'use strict;', 'use warnings;',
        "our \@IVARS = qw($ivars);", "sub bump { \$_[0]{n} += $step; return }", @extra,
        "'Reload::Main';", '');
}
write_file('Main/Main.html',
    '<p id="n"><ry:value key="n"/></p><ry:link action="bump">bump</ry:link>');
component(1, 'n', 'sub old { 1 }');

my @warnings;
$SIG{__WARN__} = sub { push @warnings, @_ };
my $app = BqDravikApplication->alloc->initWithRoot_($root);
sub shown { $_[0]->html =~ m{<p id="n">(.*?)</p>} ? $1 : undef }

my $ann = RyClient->new($app);
$ann->get('/');
$ann->follow('bump');
is(shown($ann), 1, 'the first version counts by one');

component(10, 'n m');
$ann->follow('bump');
is(shown($ann), 11, 'an edit is seen at the next request of a running session, which keeps its state');
ok(!defined &Reload::Main::old, 'a sub the file no longer has is gone');
write_file('Main/Main.html',
    '<p id="n"><ry:value key="n"/></p><p id="m"><ry:value key="m"/></p><ry:link action="bump">bump</ry:link>');
is($ann->get('/')->status, 200, 'a key the new file declares is known to the old controller');

my $bob = RyClient->new($app);
$bob->get('/');
$bob->follow('bump');
is(shown($bob), 10, 'a new session runs the new version from the start');

RyApplication->setLoadOnceOnly_(1);
component(100, 'n m');
$ann->follow('bump');
is(shown($ann), 21, 'with files loaded once only, an edit is not seen');
RyApplication->setLoadOnceOnly_(0);

write_file('Main/Main.pl', "package Reload::Main;\nsub bump {\n");
is($ann->follow('bump')->status, 500, 'an edit that does not compile is a 500 page');
like($ann->html, qr/perl error while executing/, '... that says why');
component(1000, 'n m');
$ann->get('/');
$ann->follow('bump');
is(shown($ann), 1021, 'and the fixed file serves again, the session intact');
is_deeply([ grep { /redefined/ } @warnings ], [], 'no run warned of subs redefined');

done_testing;
