package Dravik;

# The web layer: loads the Perl binding (Vantle), switches on the controls
# the web layer relies on, and registers the web layer's subs.  The subs
# live in Vantle's shared object; this module finds that object, already
# loaded by Vantle, and runs the boot sub that registers them.

use strict;
use warnings;

use Vantle ();
use DynaLoader ();

our $VERSION = '3.1';

# The handle of Vantle's shared object: the one Vantle was loaded from,
# or (when a host booted Vantle without Perl's loader) the file found
# along @INC.
sub _vantle_library {
    for my $i (0 .. $#DynaLoader::dl_modules) {
        return $DynaLoader::dl_librefs[$i] if $DynaLoader::dl_modules[$i] eq 'Vantle';
    }
    my $file = DynaLoader::dl_findfile(map({ "-L$_/auto/Vantle" } @INC), 'Vantle')
        or die "Dravik: cannot find the shared object of Vantle\n";
    my $libref = DynaLoader::dl_load_file($file, 0)
        or die "Dravik: cannot load $file: " . DynaLoader::dl_error() . "\n";
    return $libref;
}

{
    my $libref = _vantle_library();
    my $symbol = DynaLoader::dl_find_symbol($libref, 'boot_Dravik')
        or die "Dravik: no boot_Dravik: " . DynaLoader::dl_error() . "\n";
    my $boot = DynaLoader::dl_install_xsub('Dravik::bootstrap', $symbol, __FILE__);
    $boot->(__PACKAGE__);
}

1;

__END__

=head1 NAME

Dravik - Perl code for the web framework

=head1 SYNOPSIS

    use Dravik;

=head1 DESCRIPTION

Loading C<Dravik> loads L<Vantle> and prepares the process for web
components and applications written in Perl:

=over 4

=item *

the controls C<perl_auto_convert>, C<perl_selector_map>,
C<perlify_foundation> and C<hash_perlify> (see L<Vantle/CONTROLS>) and the
runtime's C<use_ns_exceptions> are switched on, once per process;

=item *

the platform's argument count becomes 1;

=item *

C<$Dravik::RyApp> is linked to the framework's current application: each
read gives a handle of the application made last (false once it is
gone), and an assignment replaces it;

=item *

every conversion between Perl values and objects goes through the web
layer's converters (L</CONVERSIONS>);

=item *

the subs of C<Dravik::Magic> are registered (L</RETAINING CONTAINERS>).

=back

=head1 CONVERSIONS

Once C<Dravik> is loaded, conversions by value (C<Vantle::obj>,
C<Vantle::pl>, arguments and results of calls between Objective-C and
Perl code) follow these rules, and never fail:

=over 4

=item Perl to objects

A hash blessed into a package is the object that owns it, named by its
C<selfObject> entry, or else a C<BqPerlObject> over it.  A string is an
C<NSString>, however much it looks like a number; a number is an
C<NSNumber>; a handle is its object.  What cannot be converted (code, a
structure that contains itself beyond the nesting limit) stays a Perl
value, wrapped in a C<BqPerlVar>.

=item Objects to Perl

An object that has a Perl object (a Perl-scripted component or
application) is that object's blessed reference; a C<BqPerlVar> or
C<BqPerlObject> is the value it wraps; an C<NSNumber> is a number (2.5
stays 2.5 in arithmetic, C<int> gives 2); anything else converts as
L<Vantle> converts it.

=back

=head1 PERL OBJECTS FOR OBJECTIVE-C

C<BqPerlVar> holds one Perl value for Objective-C code; C<BqPerlObject>
holds a reference to a blessed hash, whose entries are its instance
variables, whose package variables are its class variables and whose
subs are its methods (C<invokeMethod:withArgs:classMethod:listContext:>).
A Perl error in such a method reaches the caller as an C<NSException>
named "Perl Error", raised once the Perl call is over.  Messages a host
object does not implement can be forwarded to its Perl object
(C<Dravik_RespondsToSelector>, C<Dravik_MethodSignatureForSelector>,
C<Dravik_ForwardInvocation>): a sub of the selector's name answers, or a
declared instance variable is read or written.  The headers in
F<src/dravik> document the classes for host code.

=head1 COMPONENTS AND APPLICATIONS IN PERL

A web component whose folder holds a Perl file named after it
(F<Main/Main.pl>) gets a C<BqDravikComponentController>.  The file defines
a package and returns its name as its last value; the controller owns an
object of that package (a retaining hash, L</RETAINING CONTAINERS>), whose
entry C<selfObject> is the controller, read-only.  The file runs the first
time its component is made and again whenever it changed (its change
time, to the nanosecond): when the next controller is made, or at the
next C<awake> of one made before, so an edit is seen at the next request
of every session while the sessions keep their entries.  The subs the
file defined before are removed first, so a rerun does not warn of subs
redefined and a sub taken out of the file is gone.  An unchanged file
gives the package it gave before.  With
C<< RyApplication->setLoadOnceOnly_(1) >> files run only the first time.

The package answers the framework:

=over 4

=item key-value access

C<valueForKey:> calls the sub named as the key, else reads the hash entry;
C<takeValue:forKey:> calls the sub C<set> plus the key with its first
letter upper-cased (C<setTitle>; a nil value gives it no argument), else
writes the entry.  An empty key is ignored.

=item declarations

C<@IVARS> lists the instance variables; without it every key is one.
C<@ACTIONS> and C<@PERSISTENT> are the controller's C<actionKeys> and
C<persistentKeys>, and count as declared too, as do the application's
session keys.  Reading an undeclared key raises C<valueForKey: no ivar
"key" in component "Name" (Package)>; writing one raises the same with
C<takeValue:forKey:>, unless a sub is named as the key (the write is then
dropped).  C<%FLAGS> switches the Perl object's C<traceGet>, C<traceSet>,
C<traceInvoke>, C<rawGet>, C<rawSet> and C<verbose>.

=item the request cycle

The subs C<awake> (before the framework's own awake),
C<willPrepareForRequestInContext>, C<didPrepareForRequestInContext>,
C<willGenerateResponseInContext> and C<didGenerateResponseInContext> take
the request or response and the context.  They answer nothing to go on,
or a C<RyElement> to answer with it; anything else raises
C<BqDravikComponentController: invalid return>.

=item other messages

are answered by the sub of the selector's name (C<add_to_> or C<addTo>
for C<add:to:>), or by the accessor of a declared key.

=back

Errors of the controller are C<NSException>s named
C<BqDravikComponentController Error>; a Perl error in a sub is a C<Perl
Error>.

A C<BqDravikApplication> serves a folder (C<initWithRoot:>).  At its awake
it runs F<Application.pl>, which defines its package the same way, with
C<@IVARS>, C<@SESSION> (its C<sessionKeys>) and C<%FLAGS>; without that file
the application is a plain folder application.  Reading an undeclared key
of the application raises C<PerlQuillon Error>, writing one
C<BqDravikApplication Error>.  A component gets, by the files in its
folder: for F<Name.vantle>, an instance of the class Name that the Perl
file defines (with L<Vantle::Class>); for F<Name.pl>, a Perl component
controller; otherwise the framework's controller.

With C<hash_perlify> on, a handle of a controller (or of the framework's
C<RyVellumComponentController>) used as a hash shows its keys.

Message results are handles; C<Vantle::pl> of a controller or an
application gives its Perl object, and that object given to Objective-C
is the controller again.

=for example begin

    use strict;
    use warnings;
    use Vantle;
    use Dravik;

    open(my $out, '>', 'Counter.pl') or die "Counter.pl: $!";
    print {$out} <<'PERL';
    package Counter;
    our @IVARS = qw(count);
    sub awake { $_[0]{count}++ }
    sub label { "count: $_[0]{count}" }
    'Counter';
    PERL
    close $out;

    my $counter = BqDravikComponentController->alloc
        ->initComponentName_path_('Counter', 'Counter.pl');
    $counter->awake for 1 .. 2;
    print $counter->valueForKey_('count'), "\n";
    print $counter->valueForKey_('label'), "\n";
    print ref Vantle::pl($counter), "\n";
    eval { $counter->valueForKey_('other') };
    print $@ =~ /no ivar "other" in component "Counter"/ ? "refused\n" : "read\n";
    $counter->release;

=for example end

It prints:

=for example output

    2
    count: 2
    Counter
    refused

=head1 SERVING AN APPLICATION

An application is a folder (see F<examples/todo>): F<Application.pl>
(optional), a sub-folder per component holding its template F<Name.html>
and optionally its script (F<Name.pl> or F<Name.vantle>), and F<public/>
for static files.  The framework runs one request cycle per request:

    my $app = BqDravikApplication->alloc->initWithRoot_($folder);
    my $response = $app->handleRequest_(
        RyRequest->requestWithMethod_URI_formValues_cookies_(
            'POST', '/Main?r=...&f=0', { f0 => 'milk', a2 => 'Add' },
            { ry_session => $id }));
    $response->status;      # 200, 404, 500
    $response->headers;     # [ 'Content-Type', ..., 'Set-Cookie', ... ]
    $response->content;     # the HTML
    $response->sessionId;   # what the ry_session cookie carries

C<handleRequest:> never raises: an unknown component is a 404 page, and
an exception anywhere in the cycle (a C<die> in a sub included) is a 500
page showing its name and reason; the next request is served as usual.

L<Dravik::PSGI> does this for every request of a PSGI server (C<plackup>,
Starman), with the static files of F<public/>, body limits and the
refusal of bad requests.

=over 4

=item templates

HTML with these elements, parsed again only when the file changes:
C<< <ry:value key="a.b"/> >> (escaped; C<escape="no"> for raw HTML),
C<< <ry:if key="k" negate="yes"> >> (false: undef, 0, "", an empty
list), C<< <ry:repeat list="items" item="item" index="i"> >>,
C<< <ry:form> >> with C<< <ry:textfield key="k"/> >>,
C<< <ry:checkbox key="k"/> >> and C<< <ry:submit action="add"
value="Add"/> >>, C<< <ry:link action="done">...</ry:link> >> and
C<< <ry:component name="Footer"/> >>.  A template error names the file
and line.

=item the cycle

The session comes from the C<ry_session> cookie (a new one when it names
none: ids are random, sessions expire after 30 idle minutes and at most
10,000 are kept).  The page is the component the path names (F</> is
Main); its controller lives in the session, so C<$self> of a Perl
component keeps its entries between requests and no other session sees
them.  Then: C<awake>, C<willPrepareForRequestInContext>, the form's
values (only the fields the page drew are taken, each set with
C<takeValue:forKey:>, so C<setName> or the entry C<name>),
C<didPrepareForRequestInContext>, the action, C<willGenerateResponseInContext>,
the rendering and C<didGenerateResponseInContext>.  The application's
hooks run before the page's; its C<awake> runs once, before its first
request.

=item actions

An action is a sub of the component (or a method of a F<.vantle> class)
taking no arguments.  Inside a C<ry:repeat>, the item and index keys are
set to those of the row whose link or button was used before it runs.  It
answers C<undef> (write C<return;>) to stay on the page, or the name of the
component to show next: the response is then a redirection (303, with
C<Location: /Name>), so the browser's address, its reload and its
bookmark are those of the page shown.  A string naming no component is an
error, so an
action must not end with an assignment of a string by accident.  Links
and forms of an older page (or forged ones) run nothing: the page is only
drawn again.

=back

=head1 FUNCTIONS

=over 4

=item Dravik::kludge_argv(LIST)

Makes LIST the argument vector the platform gives code that reads the
process arguments through it.  A second call warns
"Dravik::kludge_argv: already called!" and replaces the vector again.

=back

=head1 RETAINING CONTAINERS

Object handles do not retain their objects (L<Vantle/Ownership and
autorelease pools>).  A hash, an array or a scalar tied to
C<Dravik::Magic> is a I<retaining container>: a handle stored into it
retains its object, and a handle that leaves it (overwritten, deleted,
cleared, popped, shifted or spliced out, or the container freed)
autoreleases its object, which goes when the current pool drains.  Values
that are not handles (strings, numbers, class names, Perl references) are
stored as they are.  What is stored is a copy of the value.

    tie my %ivars, 'Dravik::Magic';
    tie my @list,  'Dravik::Magic';
    tie my $slot,  'Dravik::Magic';

A retaining hash or array behaves as a plain one: C<keys>, C<each>,
C<exists>, C<delete>, slices, C<push>, C<pop>, C<shift>, C<unshift>,
C<splice>, C<$#list = ...> and list assignment all work (C<delete>
answers nothing).  Reading an absent key or index answers C<undef> and
makes nothing.  Walks of several retaining hashes may be taken in turn;
deleting the key a walk is at is allowed, as for plain hashes.

The key C<selfObject> of a retaining hash is reserved for the handle of
the object that owns the hash: it is stored without a retain and never
released, C<exists> denies it, C<keys> and C<each> list it, and clearing
the hash (C<%ivars = ()>) keeps it.

Storing a handle of an object that refuses C<retain> (an autorelease pool)
croaks with the exception (C<Dravik::Magic::STORE: [NSException
NSGenericException]: ...>) and stores nothing; a C<push> or C<unshift>
stores none of its values then.  The subs of C<Dravik::Magic> croak with
their usage (C<Usage: Dravik::Magic::FETCH(x[,elem])>, ...) when called
with the wrong number of arguments, and with C<Dravik::Magic::FETCH: not a
tie object of Dravik::Magic> when their first argument is not a tie
object.

A container lets go of its objects when Perl frees it.  Like every tied
container, it stays alive until the end of the statement that last used
one of its elements, so a pool made in the same block as a retaining
container may drain before the container goes; C<untie> lets go at
once.

Host code makes a retaining container out of an existing Perl container
with C<Dravik_MakeMagic> (F<DravikMagic.h>), which retains the handles
already inside and moves a blessing to the new outer container.

=for example begin

    use strict;
    use warnings;
    use Vantle;
    use Dravik;

    my $object = NSObject->new;
    {
        my $pool = Vantle::autorelease_pool;
        tie my %ivars, 'Dravik::Magic';
        $ivars{object} = $object;            # retained
        print $object->retainCount, "\n";
        $ivars{selfObject} = $object;        # the owner: not retained
        print $object->retainCount, "\n";
        print join(',', sort keys %ivars), "\n";
        print exists $ivars{selfObject} ? "exists\n" : "hidden\n";
        untie %ivars;                        # the hash goes
    }                                         # the pool drains
    print $object->retainCount, "\n";
    $object->release;

=for example end

It prints:

=for example output

    2
    2
    object,selfObject
    hidden
    1

=head1 SEE ALSO

L<Vantle>, L<Vantle::Class>

=cut
