# Web applications written in Perl (BqDravikApplication): Application.pl
# run at awake, its package answering key-value access and the
# request-cycle methods, the controller each component gets by its script
# file, $Dravik::RyApp, and handles of scripted component controllers
# read as Perl hashes.
use strict;
use warnings;
use Test::More;
use File::Path qw(make_path);
use File::Temp qw(tempdir);
use FindBin;
use lib "$FindBin::Bin/lib";
use ErrorCapture qw(error_of);

use Vantle;
use Dravik;

no warnings 'once';

my $top = tempdir(CLEANUP => 1);

# Writes the files of an application folder (relative path => text);
# answers the folder.
sub folder {
    my ($name, %files) = @_;
    my $root = "$top/$name";
    for my $file (sort keys %files) {
        my ($sub) = $file =~ m{\A(.*)/} ? ($1) : ();
        make_path("$root/$sub") if defined $sub;
        make_path($root);
        open(my $out, '>', "$root/$file") or die "$root/$file: $!";
        print {$out} $files{$file};
        close $out or die "$root/$file: $!";
    }
    return $root;
}

# The exception body raised, as the binding reports it.
sub exception_like {
    my ($body, $name, $reason, $what) = @_;
    like(error_of($body) // '', qr/^\[NSException \Q$name\E\]: \Q$reason\E/m, $what);
}

my $ERROR = 'BqDravikApplication Error';

my $shop = folder('shop',
    'Application.pl' => <<'PERL',
package ShopApp;
our $runs; $runs++;
our @IVARS = qw(cart);
our @SESSION = qw(user);
our @log;
sub awake { push @log, "awake $runs" }
sub total { 7 }
sub willGenerateResponseInContext { 'text' }
'ShopApp';
PERL
    'Main/Main.html' => '<p>main</p>',
    'Main/Main.pl' => "package MainPage; 'MainPage';",
    'Both/Both.pl' => "package BothPage; 'BothPage';",
    'Both/Both.vantle' => <<'PERL',
package Both;
use Vantle::Class 'Both', superclass => 'RyComponentController';
our $runs; $runs++;
1;
PERL
    'Classless/Classless.vantle' => "1;",
    'Broken/Broken.vantle' => "die qq{broken class\\n};",
    'Plain/Plain.html' => '<p>plain</p>',
    'Tcl/Tcl.html' => '<p>tcl</p>',
    'Tcl/Tcl.tcl' => 'puts never',
);

my $app = BqDravikApplication->alloc->initWithRoot_($shop);

subtest 'before its first awake an application is its superclass' => sub {
    ok($app->isKindOfClass_(Vantle::class('BqDravikApplication')), 'it is made');
    my $converted = Vantle::pl($app);
    ok(defined $converted && $converted == $app, 'having no Perl object, it converts to itself');
    ok($Dravik::RyApp == $app, '$Dravik::RyApp is the application made last');
    ok(!$app->perlObject, 'it has no Perl object');
    ok(!$app->sessionKeys, 'the session keys are the superclass\'s');
    is($app->valueForKey_('applicationName'), 'shop', 'keys are the superclass\'s');
    ok(!$app->didPrepareForRequest_inContext_('r', 'c'), 'so are the request methods');
};

subtest 'awake runs Application.pl' => sub {
    $app->awake;
    my $perl = Vantle::pl($app->perlObject);
    is(ref $perl, 'ShopApp', 'the application has a Perl object of its package');
    is(ref Vantle::pl($Dravik::RyApp), 'ShopApp', '... and converts to it');
    is_deeply(\@ShopApp::log, ['awake 1'], 'the file ran, then its awake');
    is_deeply([@{ $app->sessionKeys }], ['user'], '@SESSION gives the session keys');
    is($app->valueForKey_('total'), 7, 'a sub answers its key');
    $app->takeValue_forKey_(3, 'cart');
    is($perl->{cart}, 3, 'a declared key writes the hash');
    ok($app->_isVar_('user') && !$app->_isVar_('total'), 'session keys count as declared');
    exception_like(sub { $app->valueForKey_('nope') }, 'PerlQuillon Error',
        'valueForKey: no ivar "nope" (ShopApp)', 'reading an undeclared key');
    exception_like(sub { $app->takeValue_forKey_(1, 'total') }, $ERROR,
        'takeValue:forKey: no ivar "total" (ShopApp)',
        'writing an undeclared key raises, even one naming a sub');
    exception_like(sub { $app->willGenerateResponse_inContext_('r', 'c') },
        'BqDravikAppplication: invalid return',
        'method -willGenerateResponseInContext did not return a RyElement instance',
        'a request sub answering no element');
    like($app->description, qr/\A<BqDravikApplication: \(\Q$shop\E\/Application\.pl\)\n\tivars: /,
        'the description names the file');

    $app->awake;
    is($ShopApp::runs, 2, 'every awake runs the file again');
    ok(Vantle::pl($app->perlObject) != $perl, '... for a new Perl object');
};

subtest 'components get controllers by their script files' => sub {
    my $controller = sub { $app->controllerForComponentWithName_($_[0]) };
    my $main = $controller->('Main');
    is(ref Vantle::pl($main), 'MainPage', 'a Perl file gives a Perl component controller');
    is_deeply([@{ $main->sessionKeys }], ['user'],
        '... whose session keys are the application\'s');
    ok($controller->('Both')->isKindOfClass_(Vantle::class('Both')),
        'a class file beats a Perl file: the controller is of its class');
    $controller->('Both');
    is($Both::runs, 1, 'an unchanged class file runs once');
    exception_like(sub { $controller->('Classless') }, $ERROR,
        'no class "Classless" for compnent Classless', 'a class file without its class');
    exception_like(sub { $controller->('Broken') }, $ERROR,
        "perl error while executing $shop/Broken/Broken.vantle: broken class",
        'a class file that dies');
    my $plain = $controller->('Plain');
    ok($plain->isMemberOfClass_(Vantle::class('RyVellumComponentController')),
        'no script file: the superclass\'s controller');
    ok($controller->('Tcl')->isMemberOfClass_(Vantle::class('RyVellumComponentController')),
        'a Tcl file without the Tcl binding: the same');
    ok(!$controller->('Absent'), 'no component: none');
    is($app->pathForResource_ofType_inComponentWithName_('Main', 'pl', 'Main'),
        "$shop/Main/Main.pl", 'resources are looked up in the component\'s folder');
};

subtest 'an application without Application.pl' => sub {
    my $bare = BqDravikApplication->alloc->initWithRoot_(folder('bare', 'Main/Main.html' => 'x'));
    $bare->awake;
    ok(!$bare->perlObject, 'has no Perl object after awake');
    is($bare->valueForKey_('applicationName'), 'bare', 'answers keys as its superclass');
    ok(!$bare->sessionKeys, 'and session keys');
    ok($Dravik::RyApp == $bare, '$Dravik::RyApp follows the framework\'s newest application');
    $bare->setApplicationName_('renamed');
    is($bare->applicationName, 'renamed', 'the name can be replaced');
    $bare->release;
    ok(!$Dravik::RyApp, '... and reads nil once it is gone');
    $Dravik::RyApp = $app;
    ok(RyApplication->sharedInstance == $app, 'assigning it sets the framework\'s');
};

subtest 'a scripted component controller reads as a Perl hash' => sub {
    my $vellum = RyVellumComponentController->alloc->init;
    $vellum->takeValue_forKey_('value', 'key');
    is_deeply([keys %$vellum], ['key'], 'its keys are its variables');
    is($vellum->{key}, 'value', 'values read through the hash');
    $vellum->{more} = 'written';
    is($vellum->valueForKey_('more'), 'written', 'and are written through it');
    is_deeply([sort @{ $vellum->allHashKeys }], ['key', 'more'], 'allHashKeys lists them');
    $vellum->release;
};

$app->release;

done_testing;
