# Web components written in Perl (BqDravikComponentController): a
# component file run once per change, its package's subs and hash
# answering key-value access and the request-cycle methods, the lists it
# declares, and the rule that decides when a script file runs again.
use strict;
use warnings;
use Test::More;
use File::Temp qw(tempdir);
use Symbol ();
use FindBin;
use lib "$FindBin::Bin/lib";
use ErrorCapture qw(error_of);

use Vantle;
use Dravik;

no warnings 'once';

my $dir = tempdir(CLEANUP => 1);

# Writes text to the file name in the temporary folder; answers its path.
sub write_file {
    my ($name, $text) = @_;
    my $path = "$dir/$name";
    open(my $out, '>', $path) or die "$path: $!";
    print {$out} $text;
    close $out or die "$path: $!";
    return $path;
}

# A new controller (a handle, as every message result is).
sub controller {
    my ($name, $path) = @_;
    return BqDravikComponentController->alloc->initComponentName_path_($name, $path);
}

# The exception body raised, as the binding reports it.
sub exception_like {
    my ($body, $name, $reason, $what) = @_;
    like(error_of($body) // '', qr/^\[NSException \Q$name\E\]: \Q$reason\E/m, $what);
}

my $ERROR = 'BqDravikComponentController Error';

subtest 'a component file gives the controller its Perl object' => sub {
    my $path = write_file('Hello.pl', <<'PERL');
package Hello;
our $runs; $runs++;
sub greeting { "hello $_[0]{name}" }
sub shout_ { uc $_[1] }
'Hello';
PERL
    my $handle = controller('Hello', $path);
    my $hello = Vantle::pl($handle);
    is(ref $hello, 'Hello', 'the controller converts to its Perl object');
    ok(Vantle::obj($hello) == $handle, '... which converts back to the controller');
    ok(Vantle::pl($handle->perlObject) == $hello, 'the controller owns that Perl object');
    ok(NSArray->arrayWithObject_($hello)->lastObject == $handle,
        'the Perl object given to Objective-C is the controller');
    ok(!exists $hello->{selfObject}, 'the entry "selfObject" is hidden');
    $hello->{name} = 'Perl';
    is($handle->greeting, 'hello Perl', 'messages the class lacks reach the package subs');
    is($handle->shout_('quiet'), 'QUIET', '... with their arguments');
    is($handle->valueForKey_('name'), 'Perl', 'keys read the hash');
    like($handle->description, qr/\A<BqDravikComponentController: Hello \(\Q$path\E\)\n\tivars: \(null\);/,
        'the description names the component and its file');

    my $again = Vantle::pl(controller('Hello', $path));
    is($Hello::runs, 1, 'an unchanged file runs once for every controller of its component');
    ok($again != $hello, '... and each controller has a Perl object of its own');
    $_->release for $handle, Vantle::obj($again);
};

subtest 'a changed file runs again for the next controller' => sub {
    my $path = write_file('Change.pl', "package ChangeOne; sub v { 1 } 'ChangeOne';");
    my $first = controller('Change', $path);
    write_file('Change.pl', "package ChangeTwo; sub v { 2 } 'ChangeTwo'; # longer");
    my $second = controller('Change', $path);
    is(ref Vantle::pl($second), 'ChangeTwo',
        'the new controller has the package the file now returns');
    is(ref Vantle::pl($first), 'ChangeOne', 'the earlier one keeps its own');
    $_->release for $first, $second;
};

subtest 'a cached package that is gone makes the file run again' => sub {
    my $path = write_file('Vanish.pl', "package Vanish; \$main::vanish_runs++; sub here { 1 } 'Vanish';");
    controller('Vanish', $path)->release;
    Symbol::delete_package('Vanish');
    my $again = controller('Vanish', $path);
    is($main::vanish_runs, 2, 'the unchanged file ran again');
    ok($again->here, 'and its package has its subs');
    $again->release;
};

subtest 'component files that fail' => sub {
    exception_like(sub { controller('Empty', '') }, $ERROR, 'empty component path',
        'an empty path');
    my $missing = "$dir/Missing.pl";
    exception_like(sub { controller('Missing', $missing) }, $ERROR,
        "perl error while executing $missing: Vantle::SOURCE: cannot read",
        'a file that does not exist');
    my $dies = write_file('Dies.pl', "die qq{no good\\n};");
    exception_like(sub { controller('Dies', $dies) }, $ERROR,
        "perl error while executing $dies: no good", 'a file that dies');
    my $nowhere = write_file('Nowhere.pl', "'Never::Defined::Here';");
    exception_like(sub { controller('Nowhere', $nowhere) }, $ERROR,
        "$nowhere did not return a valid package name", 'a package it did not define');
    my $nothing = write_file('Nothing.pl', "package Nothing; sub x {} undef;");
    exception_like(sub { controller('Nothing', $nothing) }, $ERROR,
        "$nothing did not return a valid package name", 'no value at all');
};

subtest 'declared keys' => sub {
    my $path = write_file('Form.pl', <<'PERL');
package Form;
our @IVARS = qw(title);
our @ACTIONS = qw(save);
our @PERSISTENT = qw(kept);
our %FLAGS = (rawGet => 0);
our @calls;
sub setTitle { my $self = shift; push @calls, [@_]; $self->{title} = $_[0] }
sub total { 42 }
sub helper { 'helper' }
'Form';
PERL
    my $handle = controller('Form', $path);
    my $form = Vantle::pl($handle);
    is_deeply([map { [@$_] } $handle->ivars, $handle->actionKeys, $handle->persistentKeys],
        [['title'], ['save'], ['kept']], 'the lists the package declares');
    is_deeply([@{ $handle->allHashKeys }], ['title'], 'the declared keys are the hash keys');
    is_deeply([keys %$handle], ['title'], '... which a handle used as a hash shows');

    $handle->takeValue_forKey_('Perl', 'title');
    $handle->takeValue_forKey_(undef, 'title');
    is_deeply(\@Form::calls, [['Perl'], []],
        'a setter sub takes the value, and no argument for nil');
    $form->{save} = 'saved';
    is($handle->valueForKey_('save'), 'saved', 'a key declared as an action reads the hash');
    is($handle->valueForKey_('total'), 42, 'a getter sub answers its key, declared or not');
    exception_like(sub { $handle->valueForKey_('other') }, $ERROR,
        'valueForKey: no ivar "other" in component "Form" (Form)', 'reading an undeclared key');
    exception_like(sub { $handle->takeValue_forKey_(1, 'other') }, $ERROR,
        'takeValue:forKey: no ivar "other" in component "Form" (Form)',
        'writing an undeclared key');
    $handle->takeValue_forKey_('x', 'helper');
    $handle->takeValue_forKey_('x', '');
    is_deeply([sort grep { $_ ne 'selfObject' } keys %$form], ['save', 'title'],
        'writes to an undeclared sub name and to the empty key are dropped');
    $handle->release;
};

subtest 'without @IVARS every key is an instance variable' => sub {
    my $path = write_file('Open.pl', "package Open; 'Open';");
    my $handle = controller('Open', $path);
    my $open = Vantle::pl($handle);
    $handle->takeValue_forKey_('anything', 'any');
    is($open->{any}, 'anything', 'a write goes to the hash');
    is($handle->valueForKey_('any'), 'anything', 'a read comes from it');
    ok(!$handle->valueForKey_('unset'), 'an unset key reads as nil');
    is_deeply([@{ $handle->allHashKeys }], ['any'], 'the hash keys are the entries');
    $handle->takeValue_forKey_('ignored', '');
    is_deeply([grep { $_ ne 'selfObject' } keys %$open], ['any'], 'the empty key writes nothing');
    $handle->release;
};

subtest 'awake and the request-cycle methods' => sub {
    my $path = write_file('Cycle.pl', <<'PERL');
package Cycle;
our @log;
sub awake { push @log, 'awake' }
sub willPrepareForRequestInContext {
    my ($self, $request, $context) = @_;
    push @log, [$request, $context];
    return;
}
sub willGenerateResponseInContext { 'not an element' }
sub didGenerateResponseInContext { $_[0]{element} }
'Cycle';
PERL
    my $handle = controller('Cycle', $path);
    $handle->awake;
    is_deeply(\@Cycle::log, ['awake'], 'awake runs the Perl sub');
    ok(!$handle->willPrepareForRequest_inContext_('request', 'context'),
        'a sub that answers nothing goes on');
    is_deeply($Cycle::log[1], ['request', 'context'], '... given the request and the context');
    ok(!$handle->didPrepareForRequest_inContext_('r', 'c'),
        'without a sub, the superclass answers');
    exception_like(sub { $handle->willGenerateResponse_inContext_('r', 'c') },
        'BqDravikComponentController: invalid return',
        'method -willGenerateResponseInContext did not return a RyElement instance',
        'a sub answering something other than an element');
    my $element = RyElement->alloc->initWithText_('<p>instead</p>');
    Vantle::pl($handle)->{element} = $element;
    ok($handle->didGenerateResponse_inContext_('r', 'c') == $element,
        'a sub answering an element answers it');
    $_->release for $element, $handle;
};

subtest 'script files run again when they change' => sub {
    my $path = write_file('Stamp.pl', 'one');
    ok(RyApplication->fileNeedsLoading_($path), 'a file runs the first time');
    ok(!RyApplication->fileNeedsLoading_($path), '... not the second');
    ok(!RyApplication->fileNeedsLoading_($path), '... nor the third');
    write_file('Stamp.pl', 'two, longer');
    ok(RyApplication->fileNeedsLoading_($path), 'a change within the same second is seen');
    ok(!RyApplication->fileNeedsLoading_($path), '... once');

    ok(!RyApplication->loadOnceOnly, 'files load again by default');
    RyApplication->setLoadOnceOnly_(1);
    write_file('Stamp.pl', 'three, longer still');
    ok(!RyApplication->fileNeedsLoading_($path), 'with load-once, a change is not seen');
    my $fresh = write_file('Fresh.pl', 'fresh');
    ok(RyApplication->fileNeedsLoading_($fresh), '... but a new file runs');
    RyApplication->setLoadOnceOnly_(0);

    ok(RyApplication->fileNeedsLoading_("$dir/absent"), 'a file that does not exist runs')
        for 1 .. 2;
    ok(RyApplication->fileNeedsLoading_(undef), 'so does no file');
};

done_testing;
