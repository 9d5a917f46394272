package Vantle;

# The Perl side of the bridge to the Objective-C runtime.  Loading it
# starts the runtime, registers the module's subs and ties
# %Vantle::CONTROL.

# Perl text and files from the interpreter object run here, before any
# pragma or lexical of this file: in package main, without strictures or
# warnings, seeing no lexical but @_.
{
    package main;
    sub Vantle::Eval::text { eval $_[0] }
    sub Vantle::Eval::file { do $_[0] }
}

use strict;
use warnings;

our $VERSION;

# Loaded at compile time, so the overload table below can refer to the
# subs it registers.
BEGIN {
    $VERSION = '3.1';
    require XSLoader;
    XSLoader::load('Vantle', $VERSION);
}

package Vantle::Object;

# Handles are references to read-only integer scalars.  Dereferencing one
# as a hash or an array gives its view, a container tied to a handle of
# the object and the same one while it lives, so `$h->{key}` and `$h->[1]`
# reach the tie methods of Vantle::Object and `each` keeps its place.
#
# A handle prints as its object and is true unless it is nil (or, with
# the perlify_foundation control on, an empty or negative string or a
# zero number).  Comparisons keep Perl's two families: ==, !=, <=>, <,
# <=, > and >= compare string and number objects (and plain values beside
# them) as numbers, and other objects by identity; eq, ne, cmp, lt, le,
# gt and ge compare what the operands print as, and also find two objects
# equal that answer isEqual:.  ++ and -- step the handle's Perl value (a
# number or string object's value, 0 for nil) as Perl steps a plain
# scalar, and store the result where the handle was (a variable, or an
# element of a tied view, which never sees the handle again); copies made
# before keep the handle, which never changes.  Operators without an
# entry of their own are made from the conversions, or keep Perl's usual
# meaning.
use overload
    '%{}'  => \&Vantle::Hook::rv2hv,
    '@{}'  => \&Vantle::Hook::rv2av,
    '""'   => \&Vantle::Object::Id_2_String,
    '0+'   => \&Vantle::Object::Id_2_Number,
    'bool' => \&Vantle::Object::Id_2_Boolean,
    '=='   => \&Vantle::Object::Id_Is_Same,
    '!='   => \&Vantle::Object::Id_Is_Not_Same,
    '<'    => \&Vantle::Object::Id_Num_Lt,
    '<='   => \&Vantle::Object::Id_Num_Le,
    '>'    => \&Vantle::Object::Id_Num_Gt,
    '>='   => \&Vantle::Object::Id_Num_Ge,
    '<=>'  => \&Vantle::Object::Id_Num_Cmp,
    'eq'   => \&Vantle::Object::Id_Is_Equal,
    'ne'   => \&Vantle::Object::Id_Is_Not_Equal,
    'lt'   => \&Vantle::Object::Id_Str_Lt,
    'le'   => \&Vantle::Object::Id_Str_Le,
    'gt'   => \&Vantle::Object::Id_Str_Gt,
    'ge'   => \&Vantle::Object::Id_Str_Ge,
    'cmp'  => \&Vantle::Object::Id_Str_Cmp,
    # Perl makes ++ and -- from these.  A ++ of our own would make Perl
    # copy the handle first and store the copy through a tied element.
    '+'    => \&Vantle::Object::Id_Add,
    '-'    => \&Vantle::Object::Id_Subtract,
    fallback => 1;

# isa, can, DOES and VERSION (XS subs here and in Vantle::RuntimeClass, the
# parent of every class's package) answer for the runtime's classes.
# JSON encoders that convert blessed objects (JSON::PP's convert_blessed)
# call TO_JSON: a handle gives its Perl data by value, and an object that
# has none its printed form.
sub TO_JSON {
    my $value = Vantle::pl($_[0]);
    return ref($value) eq 'Vantle::Object' ? "$value" : $value;
}

# The Perl side of the interpreter object (BqVantleInterp): it evaluates
# text through Vantle::Eval::text (Vantle::EVAL when that is gone) and
# files through Vantle::SOURCE, in the caller's context.  An error is thrown on, so that the caller's trapped
# call finds it in $@.

package Vantle;

sub EVAL {
    my $text = shift;
    if (wantarray) {
        my @values = Vantle::Eval::text($text);
        die $@ if $@;
        return @values;
    }
    my $value = Vantle::Eval::text($text);
    die $@ if $@;
    return $value;
}

sub SOURCE {
    my $file = shift;
    die "Vantle::SOURCE: no file name given\n" unless defined $file && length $file;
    die "Vantle::SOURCE: cannot read $file\n" unless -f $file && -r _;
    # do FILE searches @INC for a bare relative name; run this very file.
    my $path = $file =~ m{^(?:/|\.\.?/)} ? $file : "./$file";
    if (wantarray) {
        my @values = Vantle::Eval::file($path);
        die $@ if $@;
        return @values;
    }
    my $value = Vantle::Eval::file($path);
    die $@ if $@;
    return $value;
}

1;

__END__

=head1 NAME

Vantle - Objective-C objects and Foundation from Perl

=head1 SYNOPSIS

=for example begin

    use strict;
    use warnings;
    use Vantle;

    # A class message: the class is named like a Perl package.
    my $fruit = NSMutableArray->array;

    # Each '_' in a method name stands for a ':' of the selector.
    $fruit->addObject_("pear");
    $fruit->addObject_("fig");
    $fruit->insertObject_atIndex_("apple", 0);

    print $fruit->count, " fruits\n";
    print $fruit->componentsJoinedByString_(", "), "\n";

    # Perl data to Foundation objects and back, by value.
    my $dict = Vantle::obj({ name => "tour", tags => ["perl", "objc"] });
    my $data = Vantle::pl($dict);
    print "$data->{name}: @{ $data->{tags} }\n";

    # Objective-C exceptions are Perl errors.
    eval { $fruit->objectAtIndex_(10) };
    print "caught: ", $@ =~ /^\[NSException (\w+)\]/, "\n";

=for example end

It prints:

=for example output

    3 fruits
    apple, pear, fig
    tour: perl objc
    caught: NSRangeException

=head1 DESCRIPTION

Vantle puts the Objective-C runtime (GCC's libobjc) and GNUstep's
Foundation library into the Perl process.  Objective-C objects reach Perl
as I<handles>, objects of the class C<Vantle::Object>.  A method call on a
handle, or on a class name, is sent as an Objective-C message; its
arguments are converted from Perl values by the types the method declares,
and its result is converted back.  Foundation collections, strings and
numbers convert to Perl data and back on request (L</Vantle::obj and
Vantle::pl>).  Objective-C exceptions become Perl errors that C<eval>
catches.

The module exports nothing: its functions are called with their full
names (C<Vantle::obj>, C<Vantle::Ptr::new>...).

=head1 LOADING THE MODULE

    use Vantle;

From a build tree, point Perl at the build's F<blib> directory:

    perl -Mblib=build script.pl

(F<build/blib/lib> holds the F<.pm> files, F<build/blib/arch/auto/Vantle>
the shared object F<Vantle.so>.)  Once installed (C<cmake --install build>,
see F<README.md>), the module sits in Perl's vendor (or site) directories
and C<use Vantle> needs no path at all.

Loading the module starts the runtime once per process: it installs an
autorelease pool for the whole process (never drained), makes a Perl
package for every class the runtime knows so that class names can be used
as invocants, ties C<%Vantle::CONTROL> (L</CONTROLS>) and sets
C<$Vantle::interp> to a handle of the interpreter object that Objective-C
code uses to reach this interpreter (see F<README.md>).  Loading it again
does nothing more.

=for example begin

    use Vantle;
    print "Vantle $Vantle::VERSION\n";
    print Vantle::info() =~ /GNUstep/ ? "on GNUstep\n" : "elsewhere\n";

=for example end

It prints:

=for example output

    Vantle 3.1
    on GNUstep

C<Vantle::info()> answers a one-line banner with the version and the
platform.

=head1 MESSAGES

=head2 Method names become selectors

A method called on a handle is sent to its object.  The selector is the
method name with every C<_> replaced by C<:>, leading underscores kept:

    $dict->setObject_forKey_($value, $key)   # -setObject:forKey:
    $dict->count                             # -count
    $string->_private                        # -_private

A selector takes as many arguments as it has colons, so a method with
arguments ends in C<_>.  A name that does not end in C<_> although it has
arguments or another C<_>, or that has fewer C<_> than arguments, is
completed with colons at the end (as many as the arguments need, at least
one), and Perl warns C<missing colon (i.e., '_') at the end of selector
name>: C<< $array->addObject("x") >> sends C<addObject:>.

A call with more or fewer arguments than its method takes fails before
anything is sent, with both counts: C<< $array->addObject_("x", "y") >>
croaks C<addObject: takes 1 argument, 2 given>, C<< $string->length(1) >>
C<length takes 0 arguments, 1 given> (when the receiver answers the name
as written and not the completed one, the name is taken to be right and
the count wrong, so there is no warning), and
C<< $dict->setObject_forKey_("v") >> C<setObject:forKey: takes 2
arguments, 1 given>.  The same holds for C<Vantle::msg_send>, class
messages and messages to super.

=for example begin

    use strict;
    use warnings;
    use Vantle;

    my $dict = NSMutableDictionary->dictionary;
    $dict->setObject_forKey_("blue", "sky");
    print $dict->objectForKey_("sky"), "\n";
    print $dict->count, "\n";

    local $SIG{__WARN__} = sub { print "warning: ", $_[0] =~ s/ at \S+ line \d+\.\n//r, "\n" };
    $dict->removeObjectForKey("sky");          # sends removeObjectForKey:, warns
    print $dict->count, "\n";

=for example end

It prints:

=for example output

    blue
    1
    warning: missing colon (i.e., '_') at the end of selector name
    0

Every message answers exactly one value, in list context as well (a
C<void> method answers C<undef>).  A message to nil (C<undef>, or the nil
handle) sends nothing and answers C<undef>.

Method names that start with a lower-case letter or C<_> get a Perl sub
of their own in C<Vantle::Object> at their first use, so later calls are
plain sub calls.  Other names (C<< $obj->Description >>) are sent as they
are written, through C<AUTOLOAD> every time.  Names that C<Vantle::Object>
defines itself are Perl's, not messages: C<DESTROY>, the tie methods
(C<FETCH>, C<STORE>, C<EXISTS>, C<DELETE>, C<FIRSTKEY>, C<NEXTKEY>,
C<FETCHSIZE>, C<TIEHASH>), the operator subs (C<Id_2_String> ...),
C<TO_JSON>, and C<isa>, C<can>, C<DOES> and C<VERSION>, which answer as
Perl's C<UNIVERSAL> does (L</isa, can, DOES and VERSION>).

=head2 Class messages

A class name used as an invocant sends a class message:

    my $array  = NSMutableArray->array;               # +[NSMutableArray array]
    my $string = NSString->stringWithString_("x");    # +[NSString stringWithString:]
    my $object = NSObject->new;                       # +[NSObject new]

Loading the module makes a package for every class the runtime knows; a
class made later (by code loaded afterwards) gets its package as soon as a
handle of it is made, for instance with C<Vantle::class('NewClass')>.
These packages inherit from C<Vantle::RuntimeClass>, whose C<AUTOLOAD> sends
what they do not define.  A name that is no class is left to Perl, which
fails with its usual C<Can't locate object method "alloc" via package
"NoSuchClass">.

A package that the program defines itself under the name of a class
(C<Object>, C<List> and C<Protocol> are classes here) is the program's,
whether it is defined before or after the module is loaded: once it has
subs or an C<@ISA> of its own, Perl looks its methods up as usual, in the
package, its parents and its own C<AUTOLOAD>, and a method it lacks fails
with Perl's error instead of being sent.  Its class is still reached with
C<Vantle::class('List')>.  A package that only holds other packages
(C<List::Util> makes C<List::>) is not one of these.

=for example begin

    use strict;
    use warnings;
    use Vantle;

    package Object { sub new { bless { name => "mine" }, shift } }

    print Object->new->{name}, "\n";             # the program's package
    eval { Object->alloc };
    print $@ =~ /^Can't locate object method "alloc" via package "Object"/
        ? "not a message\n" : $@;
    print Vantle::class("Object"), "\n";         # the runtime's class

=for example end

It prints:

=for example output

    mine
    not a message
    Object

=head2 isa, can, DOES and VERSION

Perl's universal methods answer on handles and class names as
C<UNIVERSAL>'s do, with the runtime's classes taking the place of Perl
packages:

=over 4

=item $h->isa($class), Class->isa($class)

True when the object is an instance of the class or of a subclass (any
kind of C<NSArray> is an C<NSArray>), or, for a class name or a handle of
a class, when it is that class or a subclass; otherwise Perl's answer
(every handle is a C<Vantle::Object>).

=item $h->can($method), Class->can($method)

A reference to Perl's method of that name (C<isa>, C<DESTROY>, the tie
methods ...); otherwise, when the object or class responds to the message
that a call C<< $h->$method(...) >> sends, a code reference that sends
it: C<< $h->can('count')->($h) >>, C<< NSArray->can('arrayWithArray_') >>.
A message it does not respond to gives C<undef>.

=item $h->DOES($role), Class->DOES($role)

True as C<isa> is, or when the class adopts the protocol of that name
(C<< $array->DOES('NSCopying') >>).

=item $h->VERSION, Class->VERSION($wanted)

The class's version in the runtime (C<+version>), unless Perl code set
the package's C<$VERSION>; a higher C<$wanted> croaks as Perl does.

=back

So C<Test::More>'s C<isa_ok> and C<can_ok> work with handles and class
names.  These names are no messages; to send one, name it with its
colon or as a literal selector: C<< $h->isKindOfClass_('NSArray') >>,
C<< $h->respondsToSelector_('count') >>, C<Vantle::msg_send($h, 'isa')>.

A JSON encoder that converts objects (C<< JSON::PP->new->convert_blessed >>)
calls C<TO_JSON>, which gives a handle's Perl data by value
(L</Vantle::obj and Vantle::pl>), and the printed form of an object that
has none.

=for example begin

    use strict;
    use warnings;
    use Vantle;
    use JSON::PP;

    my $array = NSArray->arrayWithObject_("x");
    print $array->isa("NSArray") ? "an NSArray\n" : "?\n";
    print NSMutableString->isa("NSString") ? "a subclass\n" : "?\n";
    my $count = $array->can("count");
    print $count->($array), "\n";
    print defined $array->can("fly") ? "?\n" : "cannot fly\n";
    print $array->DOES("NSCoding") ? "adopts NSCoding\n" : "?\n";
    print $array->isKindOfClass_("NSArray"), "\n";      # the message
    print JSON::PP->new->canonical->convert_blessed->encode(Vantle::obj({ list => [1, "two"] })), "\n";

=for example end

It prints:

=for example output

    an NSArray
    a subclass
    1
    cannot fly
    adopts NSCoding
    1
    {"list":[1,"two"]}

=head2 Literal selectors: Vantle::msg_send

C<Vantle::msg_send($receiver, $selector, @arguments)> sends the selector
exactly as written.  The receiver is converted like any other object
argument (L</VALUES>): a handle, C<undef> for nil, or Perl data made into
a Foundation object, so a string receiver is an C<NSString>, not the class
of that name; use C<Vantle::class('NSString')> for the class.

=for example begin

    use Vantle;

    my $array = NSMutableArray->array;
    Vantle::msg_send($array, "addObject:", "one");
    print Vantle::msg_send($array, "count"), "\n";
    print Vantle::msg_send("a string", "length"), "\n";
    my $made = Vantle::msg_send(Vantle::class("NSString"), "stringWithString:", "made by the class");
    print "$made\n";

=for example end

It prints:

=for example output

    1
    8
    made by the class

=head2 Messages to super

A method name qualified with a class name sends the message to the
receiver's implementation in that class, as C<[super ...]> does; the
receiver must be a kind of that class.
C<Vantle::msg_send_super($receiver, $class, $selector, @arguments)> does
the same with a literal selector.

=for example begin

    use Vantle;

    my $array = NSMutableArray->arrayWithObject_("x");
    print $array->description, "\n";                      # the array's own
    print $array->NSObject::description =~ /^<\w+: 0x[0-9a-f]+>$/
        ? "NSObject's description\n" : "?\n";
    print Vantle::msg_send_super($array, "NSObject", "description") =~ /^</
        ? "the same through msg_send_super\n" : "?\n";

    eval { $array->NSString::length };
    print $@ =~ /^Vantle::msg_send_super: receiver is not a kind of class NSString/
        ? "NSString is not its superclass\n" : $@;

=for example end

It prints:

=for example output

    (x)
    NSObject's description
    the same through msg_send_super
    NSString is not its superclass

C<Vantle::super> answers a marker object for sends to super from inside a
method of a class defined in Perl (L<Vantle::Class>):
C<< Vantle::super->name(...) >> there sends to the superclass's
implementation with the method's receiver, as does
C<< $self->SUPER::name(...) >> in the class's package.  Anywhere else
C<< Vantle::super->name >> croaks
C<Vantle::msg_send_super: invoked outside method>, and
C<< $obj->SUPER::name >> is Perl's own C<SUPER> (the C<@ISA> of the
current package), not a message to super.

=head2 The selector map

With the control C<perl_selector_map> on, a method name without any
underscore is looked up in a map from names written in the style of a
selector with its colons dropped and each following keyword capitalised
(C<setObjectForKey>) to the selectors of the runtime that have that form
and take that many arguments.  The map is filled from every method of
every class and protocol whenever a name is not found in it and the
receiver does not answer the selector formed from the name.  A name
that no selector has with that many arguments is remembered and not
looked for again until the runtime gains classes or methods: a class
registered, a shared object with classes or categories loaded, or a
change noted by the code that made it (C<BqOsmo_NoteRuntimeChange> in
the library's C interface).  When several selectors fit, Perl warns
C<ambiguous selectors for "name(n)": "a:" vs "b:"> and one of them is
used.  Sends through the map are slower: it is consulted on every send.

=for example begin

    use Vantle;

    $Vantle::CONTROL{perl_selector_map} = 1;
    my $array = NSMutableArray->array;
    $array->addObject("x");                   # addObject:
    $array->insertObjectAtIndex("y", 0);      # insertObject:atIndex:
    print $array->componentsJoinedByString(","), "\n";

=for example end

It prints:

=for example output

    y,x

=head2 Format methods

A method whose last named argument is a C<printf>-style format takes, after
it, the values the format's directives read, as in C:
C<stringWithFormat:>, C<initWithFormat:>, C<stringByAppendingFormat:>,
C<appendFormat:>, C<raise:format:>, and any method whose selector's last
part is C<format> or ends in C<Format> and whose format is an object or a
C string.  Setters (C<setDateFormat:>) and calendar formats
(C<descriptionWithCalendarFormat:>) take a format as a value and are sent
as usual; so are the C<...Format:arguments:> forms, which take a
C<va_list>.  A name without its final C<_>
(C<< NSString->stringWithFormat("%d", 1) >>) is completed with one colon,
after the missing colon warning.

Each value is converted to the C type its directive reads, with C's
flags, widths and precisions: C<%d %i %c> an C<int> (C<h hh l ll q z j t>
as in C), C<%u %o %x %X> an unsigned one, C<%f %e %g %a> (and their
capitals) a C<double>, C<%s> a C<char *> (the bytes of the Perl string,
which Foundation reads in its C string encoding; C<%@> takes text), C<%@>
an object (a handle, or Perl data made into one; in object formats only),
C<*> for a width or precision an C<int>, and C<%%> nothing.

Nothing is sent when the format cannot be passed safely: a format that
reads more values than were given croaks with C<stringWithFormat: format
"%d and %d" reads 2 values, 1 given>; a directive whose value is not
known here (C<%p>, C<%ls>, C<%Lf>, positional ones such as C<%1$d>, any
unknown letter) with C<unknown directive "%y" in format "...">; C<%n>,
which writes to memory, is refused; and so is a format that is no string
(C<undef>, a number, an object that is not an C<NSString>), that holds
a NUL character, or that reads more than 1024 values.  Values
beyond those the format reads are not passed, and Perl warns, as its own
C<sprintf> does, C<Redundant argument in stringWithFormat:> (in the
C<redundant> category of L<warnings>).

=for example begin

    use strict;
    use warnings;
    use Vantle;

    my $list = NSArray->arrayWithObject_("tea");
    print NSString->stringWithFormat_("%d items at %.2f: %@", 3, 9.5, $list->lastObject), "\n";
    my $text = NSMutableString->stringWithString_("n =");
    $text->appendFormat_(" %-4d|", 42);
    print "$text\n";
    eval { NSString->stringWithFormat_("%@ and %@", "one") };
    print $@ =~ s/ at \S+ line \d+\.\n//r, "\n";

=for example end

It prints:

=for example output

    3 items at 9.50: tea
    n = 42  |
    stringWithFormat: format "%@ and %@" reads 2 values, 1 given

=head1 VALUES

=head2 Arguments and results

Arguments are converted to the C types that the method's signature
declares, and the result is converted back from its declared type.  The
same conversions are used by typed pointers (L</TYPED POINTERS>),
instance variables (L</INSTANCE VARIABLES AND TIED VIEWS>) and typed
streams (L<Vantle::TypedStream>).

    C type                    Perl to C                    C to Perl
    ------------------------  ---------------------------  --------------------------
    char short int long       the integer value, cut to    an integer
      long long               the type's width as C does
    the unsigned ones         the unsigned integer value   an unsigned integer
    BOOL                      the integer value (0..255)   the integer (0 or 1)
    bool, _Bool               Perl's truth, 0 or 1         0 or 1
    float, double             the numeric value            a number
    char *                    the string's bytes (a copy   a byte string
                              for a char * argument), or
                              a Vantle::Ptr buffer
    SEL                       the selector's name          the name
    id, NSString * ...        a handle, undef, or Perl     a handle (undef
                              data made into an object     never: nil is
                                                           the nil handle)
    Class                     a class handle or name       a class handle
    struct                    a hash reference             a hash reference
    C array                   an array reference           an array reference
    other pointers            a Vantle::Ptr, or false;     a Vantle::Ptr
                              const void * also a byte
                              string
    void                      -                            undef

In detail:

=over 4

=item Integers

C<char>, C<short>, C<int>, C<long> and C<long long> take Perl's integer
value of the argument, the unsigned types its unsigned value (so all of
C<unsigned long long> crosses), cut to the type's width as a C conversion
does: 300 stored in a C<char> is 44, -1 in an C<unsigned int> is
4294967295.  A fraction is truncated; a string is converted as Perl
converts it (C<"17 apples"> is 17, with Perl's C<isn't numeric> warning).
Results are integers; 64-bit values keep all their bits.

=item BOOL

This runtime encodes C<BOOL> as an C<unsigned char>, so a C<BOOL> argument
takes the integer value: pass 1 or 0, not a word (C<"yes"> is 0, with a
warning).  Results are the integer, 1 or 0 for methods that answer YES or
NO.  C99's C<bool> takes the truth of the Perl value.

=item float and double

The numeric value; NaN and the infinities cross unchanged.  A C<float>
keeps single precision: 0.1 comes back as 0.100000001490116.

=item char *

A C<char *> argument receives the bytes of the Perl string as Perl holds
them: a byte string unchanged, a character string as its UTF-8 encoding.
To pass text to a method that expects UTF-8, encode it yourself
(C<utf8::encode>), or better pass the Perl string to an C<id> argument,
which makes a proper C<NSString> of it.  The string ends at its first NUL;
C<undef> is the null pointer; a number crosses as its text.

A C<const char *> argument is lent the string itself.  A C<char *>
argument, which the method may write into, gets a copy of the string, so
no Perl string is ever changed behind Perl's back; the copy lives until
the statement that sent the message ends, and is freed however the send
ends.  A method that fills a C<char *> buffer
(C<getCString:maxLength:encoding:>) wants a typed pointer to storage of
the right size, a C<(char) [64] *> from C<Vantle::Ptr::malloc> or the
C<mutableBytes> of an C<NSMutableData> (L</TYPED POINTERS>): it passes
its address.  A typed pointer to C<char>, C<unsigned char>, arrays of
them or C<void> fits; one to anything else is passed with the warning
C<assigning pointer type "^i" to "*">.  Storage that keeps its string (an
instance variable, the target of a typed pointer, a structure member)
holds a copy of the text and refuses a typed pointer: C<a typed pointer
cannot be stored as a C string that the storage owns>.

A C<char *> result is a byte string (the flag for characters is never
set), C<undef> for the null pointer.

=item SEL

A selector's name (C<"setObject:forKey:">); C<undef> and the empty string
are the null selector; a name the runtime has not seen is registered.
Results are names, or C<undef>.

=item id and typed objects

A handle gives its object, C<undef> (or the nil handle) nil.  With the
control C<perl_auto_convert> on (the default) any other Perl value is made
into a Foundation object by value, as C<Vantle::obj> does: a string
becomes an C<NSString>, a number an C<NSNumber>, an array reference an
C<NSMutableArray>, a hash reference an C<NSMutableDictionary>.  With the
control off only handles, false values (nil) and class names (the class)
are accepted, and other values fail with C<not an object (while
converting to id)>.  An object result is always a handle, never converted
by value: a nil result is the nil handle, which is false.

=item Class

A class handle, a class name, or C<undef> for Nil.  Results are class
handles, which print as the class name.

=item Structures

A structure is a hash reference with one entry per member, keyed by the
member's name, or by C<_0>, C<_1>... for members without one.  Foundation's
own method signatures carry no member names on this platform, so the
binding knows the names of Foundation's structures: an C<NSRange> is
C<< { location => 7, length => 5 } >>, an C<NSPoint>
C<< { x => 1, y => 2 } >>, an C<NSSize> C<< { width => 3, height => 4 } >>
and an C<NSRect> C<< { origin => { x => 1, y => 2 }, size => { width => 3,
height => 4 } } >>.  A structure result is such a hash reference plus
C<__signature>, the member encodings; given back as an argument,
C<__signature> lends its member names to members the type leaves
unnamed.

An argument may give a named member by its index as well
(C<< { _0 => 1, _1 => 3 } >> is an C<NSRange> too), but not both ways.
Every member must be there, and no other key: such a hash is refused
before anything is converted, with C<missing member "length" (or "_1") of
struct _NSRange>, C<unknown member "lenght" of struct _NSRange> or
C<member "location" of struct _NSRange given twice, also as "_0">.  A
member that cannot be converted says where it is:
C<perl type is not a hash reference (while converting member "origin" of
struct _NSRect)>.  The same holds for structures stored into instance
variables and through typed pointers.

=item C arrays

An array reference.  One with another number of elements warns
C<bad array size 2 (expected 3)> and fills what it has; holes of a sparse
array leave their elements as they were.

=item Other pointers

A typed pointer (L</TYPED POINTERS>), or any false value for the null
pointer.  The pointer fits as C would convert it without a cast: a
C<void *> fits any pointer and any pointer fits a C<void *>; otherwise the
types must match, where a pointer to an array fits a pointer to its
element type (an C<unsigned short [5] *> buffer is an C<unsigned short *>,
as a C array passed to a function is).  A pointer of another type is
passed all the same, with the warning
C<assigning pointer type "^i" to "^d">, as a C compiler warns.

A C<const void *> argument (also C<const unsigned char *>) takes a Perl
byte string as well: its bytes, NULs included, for as long as the send
lasts (C<< NSData->dataWithBytes_length_($bytes, length $bytes) >>); here
C<"0"> and the empty string are bytes, and only C<undef> is the null
pointer.  A string of characters crosses as the bytes of its characters
when they are all below 256, and is refused otherwise:
C<Wide character in byte string>; encode it first (C<utf8::encode>).  A
pointer the method may write through (C<void *>) takes no string: C<not
a valid pointer>.

Results are typed pointers of the declared type: C<< $data->bytes >> is a
C<Vantle::Ptr> of type C<^rv> (C<const void *>).

=back

Unions, bit-fields and unknown types (C<?>) are refused:
C<cannot convert to type ?>.

=for example begin

    use strict;
    use warnings;
    use Vantle;

    my $text = NSString->stringWithString_("hello, world");
    my $range = $text->rangeOfString_("world");             # an NSRange
    print "$range->{location} $range->{length}\n";
    print $text->substringWithRange_({ location => 0, length => 5 }), "\n";
    print $text->hasPrefix_("hello"), "\n";                  # a BOOL
    print $text->respondsToSelector_("length"), "\n";        # a SEL argument
    print $text->isKindOfClass_("NSString"), "\n";           # a Class argument
    print NSNumber->numberWithUnsignedLongLong_(18446744073709551615)->unsignedLongLongValue, "\n";

    my $cafe = "caf\x{e9}";                                  # four characters
    utf8::encode(my $bytes = $cafe);                         # five bytes
    print NSString->stringWithUTF8String_($bytes)->length, "\n";
    print NSString->stringWithString_($cafe)->length, "\n";  # an id argument
    my $utf8 = NSString->stringWithString_($cafe)->UTF8String;
    print length($utf8), "\n";                               # bytes, not decoded

    my $buffer = Vantle::Ptr::malloc(Vantle::Ptr::new('(char) [64] *'));
    $text->getCString_maxLength_encoding_($buffer, 64, 4);   # fills a char *
    print unpack('Z*', pack('c*', @{ $buffer->FETCH })), "\n";
    Vantle::Ptr::free($buffer);
    my $data = NSData->dataWithBytes_length_("a\0b", 3);     # a const void *
    print $data->length, "\n";

=for example end

It prints:

=for example output

    7 5
    hello
    1
    1
    1
    18446744073709551615
    4
    4
    5
    hello, world
    3

=head2 Vantle::obj and Vantle::pl

C<Vantle::obj> makes Foundation objects of Perl data, by value, and
answers handles; C<Vantle::pl> makes Perl data of Foundation objects.

    Perl                              Foundation
    --------------------------------  ------------------------------------
    string                            NSString
    integer                           NSNumber of the integer (all 64
                                      bits, signed or unsigned)
    other number                      NSNumber of a double
    boolean (!!1, !!0, 1 == 1,        NSNumber of the BOOL YES or NO
      builtin::true)
    array reference                   NSMutableArray
    hash reference                    NSMutableDictionary, NSString keys
    undef                             nil (inside a collection: BqNil)
    handle                            its object, unchanged
    Vantle::data($bytes)              NSData (a handle already)

A string with Perl's character flag is read as UTF-8, one without it as
Latin-1, so text keeps its characters either way; a string that is not
valid text (a lone surrogate) fails.  A scalar that has a string value
becomes an C<NSString> even when it also has a number (C<"007"> stays
C<"007">, and a number once used as a string crosses as its text); only
plain numbers become C<NSNumber>s.  Perl's booleans, the values of
comparisons and of C<!>, become C<NSNumber>s of C<YES> and C<NO>, not the
strings C<"1"> and C<"">.  Undefined elements of arrays and hashes become
C<BqNil>, the object that stands for nil inside collections; holes of a
sparse array are skipped.  Code, glob and scalar references cannot be
converted, and the error names them as Perl does:
C<Vantle::obj: don't know how to convert CODE reference to an object>
(or C<SCALAR reference>, C<GLOB reference>, C<Regexp>, C<CODE reference
blessed into My::Class>).  Data that contains itself, or that nests more
than 99 containers deep, fails with C<Vantle::obj: recursive perl data
structure>.

A Perl string is always text.  Bytes become an C<NSData> only when asked:
C<Vantle::data($bytes)> answers a handle of a new C<NSData> holding the
string's bytes, to pass as an argument or to put into data for
C<Vantle::obj>.  A string with the character flag gives the bytes of its
characters when each fits in a byte (as C<utf8::downgrade> does); a wider
character fails with C<Vantle::data: Wide character in byte string>, so
encode text first (C<utf8::encode>, C<Encode::encode>).  A reference is
no byte string (C<Vantle::data: ARRAY reference is no byte string>)
unless its class overloads C<"">.

Back to Perl, C<NSString>s give text (flagged as characters when they hold
anything beyond ASCII), C<NSNumber>s integers or floating numbers by the
C value they hold, C<NSArray>s array references, C<NSDictionary>s hash
references keyed by the text of each key's description, C<NSData> byte
strings (never flagged as characters), nil, C<BqNil> and C<NSNull>
C<undef>; any other object stays a handle.  An C<NSNumber> made from a
C<BOOL> (C<numberWithBool:>, Foundation's C<YES> and C<NO>) gives Perl's
own true and false, C<!!1> and C<!!0>: 1 and 0 as numbers, C<"1"> and
C<""> as strings, and C<builtin::is_bool> knows them.  Other numbers stay
numbers, so a 1 made by C<numberWithInt:> is the integer 1.  Two keys of a
dictionary that have the same text (the number 1 and the string C<"1">)
would be one key of a Perl hash: rather than lose an entry, the
conversion fails with C<Vantle::pl: two dictionary keys become the Perl
key "1">.  Objects nested more than 99 deep fail with C<Vantle::pl:
recursive object structure>.

Context: C<Vantle::obj(@values)> in list context answers one handle per
argument; in scalar context it answers the handle of its one argument, of
an C<NSMutableArray> of all its arguments when there are several, or the
nil handle when there are none.  C<Vantle::pl($object)> in list context
answers the elements of an array object as a list, and otherwise the one
converted value; with several arguments it converts each in place (list
context) or answers a reference to an array of them (scalar context).
Arguments that are no objects come back unchanged; a string naming a class
is that class's handle.

=for example begin

    use strict;
    use warnings;
    use Vantle;

    my $person = Vantle::obj({ name => "Ada", born => 1815, languages => ["English", "French"] });
    print $person->objectForKey_("born")->intValue + 1, "\n";
    print $person->objectForKey_("languages")->count, "\n";

    my $copy = Vantle::pl($person);                   # a hash reference
    print "$copy->{name}: @{ $copy->{languages} }\n";

    my @list = Vantle::pl(Vantle::obj([1, 2, 3]));    # list context: the elements
    print scalar(@list), "\n";
    my $ref = Vantle::pl(Vantle::obj([1, 2, 3]));     # scalar context: a reference
    print ref($ref), "\n";

    my @handles = Vantle::obj("a", 2.5, undef);       # one handle each
    print scalar(@handles), " ", $handles[1]->doubleValue, "\n";

=for example end

It prints:

=for example output

    1816
    2
    Ada: English French
    3
    ARRAY
    3 2.5

Bytes, booleans and C<NSNull>:

=for example begin

    use strict;
    use warnings;
    use Vantle;

    my $header = "\x89PNG\r\n\x1a\n";                # eight bytes
    my $data = Vantle::data($header);                 # an NSData
    print $data->length, "\n";
    print Vantle::pl($data) eq $header ? "same bytes\n" : "changed\n";

    my $flags = Vantle::obj({ open => !!1, hidden => 1 > 2 });
    print $flags->objectForKey_("open")->boolValue, "\n";
    my $back = Vantle::pl($flags);
    print $back->{hidden} ? "hidden\n" : "shown\n";
    print $back->{hidden} + 0, "\n";

    my $list = Vantle::pl(NSArray->arrayWithObject_(NSNull->null));
    print defined $list->[0] ? "defined\n" : "undef\n";

=for example end

It prints:

=for example output

    8
    same bytes
    1
    shown
    0
    undef

=head1 HANDLES AND OBJECT LIFETIME

=head2 Handles

A handle is a reference, blessed into C<Vantle::Object>, to a read-only
integer: the object's address, 0 for nil, -1 once the object has been
deallocated.  All handles of one object refer to one and the same scalar,
whichever way they were made.  Handles never retain or release their
objects: dropping the last handle of an object does not free it.

A handle works with Perl's operators:

=over 4

=item *

It prints as its object: a class as its name (a metaclass as C<#Name>),
nil as C<nil>, other objects as C<< <NSObject:0x55d5c8a0e3f0> >>.  With the
control C<perlify_foundation> on (the default) a string object prints as
its text and a number object as its value, and they work in arithmetic,
string operations and comparisons as Perl strings and numbers do.

=item *

It is true unless it is nil or deallocated; with C<perlify_foundation> on
an empty string and the strings C<no>, C<false> and C<0> (in any case),
and numbers equal to zero, are false too.

=item *

The numeric comparisons C<==>, C<!=>, C<< <=> >>, C<< < >>, C<< <= >>,
C<< > >> and C<< >= >> compare string and number objects by their values,
as Perl compares numbers: C<2.5> is not C<2.7>, large integers compare
exactly, C<NSNumber> 0 C<== 0>, and C<< sort { $a <=> $b } >> sorts number
objects.  A plain Perl value beside one of them is compared by value too,
with Perl's warnings for C<undef> and for strings that are no numbers.
Two handles of other objects compare by identity: C<==> is true when they
are handles of the same object, and C<< <=> >> orders different objects
by address.  Beside such a handle, a plain value stands for the object it
names: C<undef> and other false values for nil, a class name for the
class (C<< NSObject->class == 'NSObject' >>).

=item *

The string comparisons C<eq>, C<ne>, C<cmp>, C<lt>, C<le>, C<gt> and
C<ge> compare what the operands print as, as Perl compares strings:
C<< NSString "" eq "" >> is true.  Two handles of objects that are no
strings or numbers are also equal when the first answers C<isEqual:> with
the second (two arrays with equal elements), and C<cmp> answers 0 exactly
when C<eq> is true.

=item *

A handle of a deallocated object equals only the handles of that same
object, under both kinds of comparison.  Without C<perlify_foundation>,
string and number objects compare like any other objects.

=item *

C<++> and C<--> step the handle's Perl value (a number or string object's
value, 0 for nil) as Perl steps a plain scalar, and store the result in
its place: in the variable, or through the element of a tied view
(C<< $counts->{$word}++ >> counts in an C<NSMutableDictionary>); other
copies of the handle are not changed.  C<+> and C<-> add and subtract
the handles' number forms.

=back

=for example begin

    use strict;
    use warnings;
    use Vantle;

    my $first  = Vantle::obj([1, 2]);
    my $same   = $first->self;                # another handle of that object
    my $equal  = Vantle::obj([1, 2]);
    print $first == $same  ? "same object\n"   : "other object\n";
    print $first == $equal ? "same object\n"   : "other object\n";
    print $first eq $equal ? "equal\n"         : "not equal\n";

    my $n = NSNumber->numberWithInt_(41);
    print $n + 1, "\n";
    print NSString->stringWithString_("abc") . "def", "\n";
    print NSString->stringWithString_("") ? "true\n" : "false\n";
    print NSObject->class, "\n";
    print Vantle::nil(), "\n";

    my @sizes = sort { $a <=> $b } map { NSNumber->numberWithDouble_($_) } 10, 2.7, 2.5;
    print "@sizes\n";
    print NSNumber->numberWithDouble_(2.5) == 2.7 ? "same\n" : "different\n";

    my $counts = NSMutableDictionary->dictionary;
    $counts->{$_}++ for qw(fig pear fig);
    print join(", ", map { "$_=$counts->{$_}" } sort keys %$counts), "\n";

=for example end

It prints:

=for example output

    same object
    other object
    equal
    42
    abcdef
    false
    NSObject
    nil
    2.5 2.7 10
    different
    fig=2, pear=1

=head2 Ownership and autorelease pools

Objects follow Foundation's rules, unchanged by Perl.  An object made by
C<alloc>, C<new> or C<copy> belongs to the Perl code that made it, which
sends it C<release> when it is done with it.  Objects answered by other
methods (C<< NSString->stringWithString_ >>, C<< NSMutableArray->array >>,
C<Vantle::obj>) are autoreleased.  The pool that the module installs is
never drained, so these objects live to the end of the process unless the
program makes pools of its own.  A long-running loop makes one per pass
with C<Vantle::autorelease_pool>:

    for my $item (@work) {
        my $pool = Vantle::autorelease_pool;
        ...                  # objects autoreleased here
    }                        # are freed here, each time round

C<Vantle::autorelease_pool> makes a new C<NSAutoreleasePool> and answers
a I<scoped pool>, an object of the class C<Vantle::AutoreleasePool> that
drains the pool when the last Perl value holding it goes: at the end of
its block, when C<undef> is assigned to it, or when a Perl error leaves
the block.  C<< $pool->drain >> drains it earlier.  Called in void context
it would drain at once, so it croaks (C<Vantle::autorelease_pool: useless
in void context, the pool would drain at once>).  Scoped pools nest as
Foundation's pools do: draining an outer pool drains the pools made inside
it, and those drain nothing more when their own scope ends, whatever the
order.  A new Perl thread gets C<undef> in place of a scoped pool (a pool
belongs to the thread that made it).

The same can be written with messages,

    my $pool = NSAutoreleasePool->new;
    ...
    $pool->release;          # or ->drain

but the scoped pool also drains when a Perl error leaves the block.  Once a
pool is released or drained, by Perl or by Objective-C code (an outer pool
draining it), every handle of it is dead (L</Deallocated objects>): a
second C<release> croaks C<Vantle::msg_send: Dealloc'ed object> instead of
draining whatever pool Foundation made next in its place (Foundation
keeps released pools and hands them out again).

An object that must outlive its pool is retained, and released later.

=for example begin

    use strict;
    use warnings;
    use Vantle;

    my $kept = NSMutableArray->array->retain;         # outlives the pools
    my $last;
    for my $n (1 .. 3) {
        my $pool = Vantle::autorelease_pool;
        $last = NSString->stringWithString_("round $n");
        $kept->addObject_($last);                     # the array retains it
    }
    print Vantle::object_is_bad($last) ? "gone\n" : "alive: $last\n";
    print $kept->count, " kept, the last one ", $kept->lastObject, "\n";

    my $temporary;
    eval {
        my $pool = Vantle::autorelease_pool;
        $temporary = NSString->stringWithString_("temporary");
        die "failed\n";
    };
    print "$@", Vantle::object_is_bad($temporary), "\n";

    my $pool = NSAutoreleasePool->new;
    $pool->release;
    eval { $pool->release };
    print $@ =~ s/ at \S+ line \d+\.\n\z//r, "\n";
    $kept->release;

=for example end

It prints:

=for example output

    alive: round 3
    3 kept, the last one round 3
    failed
    Dealloc'ed object
    Vantle::msg_send: Dealloc'ed object

=head2 Deallocated objects

When an object is deallocated, every handle of it turns into a
I<dead handle>: its referent reads -1, it prints as
C<< <BAD OBJECT: Dealloc'ed object> >>, it is false, and
C<Vantle::object_is_bad> names the reason.  A message to it croaks
C<Vantle::msg_send: Dealloc'ed object>, and passing it where an object is
expected croaks with the same reason (C<Vantle::pl> hands it back
unchanged); a handle never leads to freed memory.

=for example begin

    use strict;
    use warnings;
    use Vantle;

    my $owned = NSObject->new;                       # ours: released below
    my $pool = NSAutoreleasePool->new;
    my $temporary = NSString->stringWithString_("temporary");
    my $kept = NSMutableArray->array->retain;        # outlives the pool
    $pool->release;

    print Vantle::object_is_bad($temporary), "\n";
    print "$temporary\n";
    eval { $temporary->length };
    print $@ =~ s/ at \S+ line \d+\.\n\z//r, "\n";
    print $kept->count, "\n";
    $kept->release;
    $owned->release;
    print $owned ? "alive\n" : "gone\n";

=for example end

It prints:

=for example output

    Dealloc'ed object
    <BAD OBJECT: Dealloc'ed object>
    Vantle::msg_send: Dealloc'ed object
    0
    gone

=head2 nil, bad objects and classes

=over 4

=item Vantle::nil()

The nil handle: false, printing as C<nil>, all nil handles sharing one
referent.  Any false value (C<undef>, 0, C<"">) also stands for nil
where an object is expected.

=item Vantle::nil($value)

1 when the value is nil (the nil handle or a false value), 0 for any
other object (live or dead).  Croaks C<Vantle::nil(obj): not an object>
for a value that is no object.

=item Vantle::object_is_bad($value)

0 when the value is a usable object (or nil); otherwise 1 in numeric
context and the reason in string context: C<Dealloc'ed object>,
C<Illegal id> (a scalar that Perl code blessed into C<Vantle::Object>
itself), C<not an object>.  Never croaks over a bad value.

=item Vantle::class($name)

A handle of the class named C<$name>; C<nil> (in any case) gives the nil
handle; croaks C<Vantle::class: no class Name> when there is none.

=item Vantle::class_lookup($name)

The same, but answers a plain 0 when there is no such class, and gives
C<nil> no special meaning.

=back

=for example begin

    use Vantle;

    print Vantle::nil(undef), Vantle::nil(Vantle::nil()), Vantle::nil(NSObject->class), "\n";
    print Vantle::object_is_bad(NSObject->class) + 0, "\n";
    print Vantle::object_is_bad(42), "\n";
    print Vantle::class("NSArray") == NSArray->class ? "the class\n" : "?\n";
    print Vantle::class_lookup("NoSuchClass"), "\n";

=for example end

It prints:

=for example output

    110
    0
    not an object
    the class
    0

=head1 THREADS AND FORK

The module works in programs that use L<threads>.  Each Perl interpreter,
and so each thread, has the module's state of its own: its handles, its
handle registry, its interpreter object (C<$Vantle::interp>), its pending
method names and caches.  Nothing of the module is copied into a new
thread: handles, typed pointers and scoped pools are skipped when Perl
clones the parent's data (C<CLONE_SKIP>), so a variable that held one in
the parent is C<undef> (a reference to C<undef>) in the thread, and the
parent's handles stay as they were.  Data crosses between threads by value,
as with any Perl thread: return C<Vantle::pl> of a result from the thread,
or pass values to it and make objects there.

=for example begin

    use strict;
    use warnings;
    use threads;
    use Vantle;

    my $words = NSMutableArray->array;
    $words->addObject_($_) for qw(tea coffee);
    my $worker = threads->create(sub {
        my $mine = Vantle::obj([qw(cocoa chai)]);     # objects of its own
        return (defined $$words ? "shared" : "not shared") . ", "
            . join(' ', @{ Vantle::pl($mine) });
    });
    print $worker->join, "\n";
    print $words->count, " in the parent\n";

=for example end

It prints:

=for example output

    not shared, cocoa chai
    2 in the parent

What the threads share is the process's: the Objective-C objects
themselves (an object reached from two threads is one object, and
Foundation's own rules for sharing it apply: most mutable collections are
not safe to change from two threads at once), the classes, the control
flags of C<%Vantle::CONTROL> (one set for the whole process), the selector
map, and the converter hooks.  The registries the module keeps for the
whole process are locked.  A thread is registered with GNUstep the first
time it uses the module, and gets an autorelease pool of its own, which is
drained when the thread ends.  When an object is deallocated, on whatever
thread, the handles of it in every interpreter read as deallocated.

C<fork> works as usual: the child goes on with a copy of the parent's
objects and handles.

=head1 ERRORS

An Objective-C exception raised by a message becomes a Perl error, which
C<eval> catches; the process goes on normally afterwards.  The texts:

=over 4

=item C<[NSException NAME]: REASON>

A Foundation exception, by name and reason, followed by a new line and
the description of its user info when it has one.

=item C<Class does not respond to -selector (no method signature)>

The receiver has no method for the selector (C<class Name does not
respond to selector> for a class message).

=item C<instance @Class@55d5c8a0e3f0 does not respond to selector>

A message reached an object that does not recognise it (through
C<performSelector:>, for instance); the runtime also logs the text on
standard error, after C<%%Osmo Error:>.

=item C<< ... (while converting arguments for -[<Class:0x...> selector]) >>

An argument could not be converted; the text before it says why (for
example C<not a valid pointer>).

=item C<selector takes N arguments, M given>

The call gave another number of arguments than the method takes
(C<takes at least> for a format method, L</Format methods>).

=item C<selector format "..." reads N values, M given>

A format method was given fewer values than its format reads; the
format's other errors are listed in L</Format methods>.

=item C<Vantle::msg_send: Dealloc'ed object>

The receiver was deallocated (L</Deallocated objects>).

=back

The functions of the module croak on bad input with their name in front
(C<Vantle::obj: ...>, C<Vantle::Ptr::STORE: ...>) or with their usage
(C<Usage: Vantle::nil() or Vantle::nil(obj)>).  A Perl error raised while
an argument is converted (by a tied variable, say) reaches the caller
unchanged, and the message is not sent.  All texts end with Perl's
C<at FILE line N.>.

=for example begin

    use strict;
    use warnings;
    use Vantle;

    sub reason { $_[0] =~ s/ at \S+ line \d+\.\n\z//r }

    eval { NSArray->arrayWithObject_("only")->objectAtIndex_(5) };
    print "1: $1\n" if $@ =~ /^\[NSException (\w+)\]: /;

    my $exception = NSException->exceptionWithName_reason_userInfo_("Overheated", "too hot", undef);
    eval { $exception->raise };
    print "2: ", reason($@), "\n";

    eval { NSObject->new->autorelease->fly };
    print "3: ", reason($@), "\n";

    eval { Vantle::obj(sub { 1 }) };
    print "4: ", reason($@), "\n";

    print "5: still working: ", NSArray->arrayWithObject_("x")->count, "\n";

=for example end

It prints:

=for example output

    1: NSRangeException
    2: [NSException Overheated]: too hot
    3: NSObject does not respond to -fly (no method signature)
    4: Vantle::obj: don't know how to convert CODE reference to an object
    5: still working: 1

=head1 CONTROLS

C<%Vantle::CONTROL> is a hash tied to the process-wide control switches.
Its keys are the fifteen control names below, in this order; each value is
one byte (storing 257 stores 1, 255 reads back as -1).  Every copy tied
to C<Vantle::Control> reaches the same switches, and C<local> works on
them.  An unknown name croaks C<control variable NAME does not exist>, and
controls cannot be deleted.

=over 4

=item message_trace (default 0)

Prints every message sent from Perl on standard output, with its
arguments and result:
C<< [NSMutableArray array]  --> (0) <GSMutableArray:0x...> >>.

=item class_redefine_ok (1), protocol_redefine_ok (0), method_description_super_check (1), method_description_check (0), show_loading (0), protocol_check_conformance (1)

Switches of the runtime layer that nothing in this release reads: they
can be set and read back, and change nothing.

=item use_ns_exceptions (0)

Errors that the runtime layer raises itself (a message that reaches an
object which does not recognise it, a failure to make an interpreter
object) are raised as Foundation exceptions, which Objective-C code
catches with C<@catch (NSException *)>, instead of the runtime's own
error records.  Perl code sees the same text either way.

=item runtime_type_check (0)

Object types declared with a class or protocol in typed-pointer
declarations (C<NSString *>, C<< id <NSCopying> >>) keep it in their
encoding, and objects stored or read through them are checked:
C<itypecheck: ... is not a kind of NSString>,
C<itypecheck: NSObject does not conform to protocol NSCopying>.

=item bad_object_check (1)

Receivers, and objects that methods answer, must pass the runtime's
validity check before they are messaged or made into handles; one that
fails is an error naming the problem (C<Illegal id pointer>,
C<Freed object> ...).

=item perl_auto_convert (1)

Perl data given where an object is expected (message arguments and
receivers, typed pointers, instance variables, tied views) is made into
Foundation objects by value.  Off, only handles, false values and class
names are accepted.

=item perl_selector_map (0)

Method names without underscores are looked up in the selector map
(L</The selector map>), and the C<missing colon> warning is not given for
them.

=item vantle_verbose (0)

Prints the progress of filling the selector map on standard output.

=item perlify_foundation (1)

String and number objects act as Perl strings and numbers under Perl's
operators (L</Handles>), and arrays and dictionaries show their elements
when a handle is used as an array or hash (L</Tied views>).  Off, they
print as C<< <Class:0x...> >>, are always true, compare by identity with
C<==> and show their instance variables.

=item hash_perlify (0)

A handle used as a hash shows the keys of an object that answers
C<allHashKeys>, read with C<valueForKey:> and written with
C<takeValue:forKey:>, instead of its instance variables.

=back

=for example begin

    use Vantle;

    print join(", ", map { "$_=$Vantle::CONTROL{$_}" } qw(perl_auto_convert perlify_foundation)), "\n";
    {
        local $Vantle::CONTROL{perlify_foundation} = 0;
        my $text = NSString->stringWithString_("text");
        print "$text" =~ /^<\w+:0x[0-9a-f]+>$/ ? "an object\n" : "text\n";
    }
    print NSString->stringWithString_("text"), "\n";
    eval { $Vantle::CONTROL{no_such_control} = 1 };
    print $@ =~ /^control variable no_such_control does not exist/ ? "no such control\n" : $@;

=for example end

It prints:

=for example output

    perl_auto_convert=1, perlify_foundation=1
    an object
    text
    no such control

The message trace:

=for example begin

    use Vantle;

    $Vantle::CONTROL{message_trace} = 1;
    my $array = NSMutableArray->array;
    $array->addObject_("x");

=for example end

prints lines such as

     [NSMutableArray array]  --> (0) <GSMutableArray:0x5581e0a1c2d0>
     [@GSMutableArray@5581e0a1c2d0 addObject: x]  --> (0)

=head1 TYPED POINTERS

C pointers that are neither objects nor C strings are typed pointers,
objects of C<Vantle::Ptr>: a read-only pair of the pointed-to type's
encoding and an address.  Types are written as C declarations: C<int *>,
C<unsigned short [5] *>, C<char * *>, C<NSString * *>,
C<struct pt { int x; double y; } *>, C<< id <NSCopying> * >>; qualifiers
such as C<const> are dropped, and C<BOOL>, C<SEL>, C<Class>, C<id> and
C<bool> are known names.  C<char *> names a C string, so a pointer to a
single C<char> is written C<(char) *>, and a buffer for a method that
fills a C<char *> C<(char) [64] *>.  How typed pointers fit the pointer
arguments of methods is told under L</Other pointers> and L</char *>.

=over 4

=item Vantle::Ptr::new($declaration, $address)

A new typed pointer of the type (which must be a pointer type) at the
address (default null).  Without arguments, a null C<void *>.  A
declaration that does not parse croaks with the parser's text
(C<error parsing type "...">).

=item Vantle::Ptr::type($ptr), Vantle::Ptr::value($ptr)

The pointer's encoding (C<^i>) and address.  Any false value reads as a
null C<void *> (C<^v>, 0).

=item Vantle::Ptr::malloc($ptr)

Points the pointer (and every copy of it) at new zero-filled storage for
one value of the pointed-to type; answers the pointer.  Types without a
size (C<void>, an opaque structure) croak
C<cannot malloc: unknown type size>.

=item Vantle::Ptr::free($ptr)

Frees the storage the pointer points to and makes the pointer (and every
copy of it) null; answers the pointer.  Freeing a null pointer does
nothing.  Free only storage that C<Vantle::Ptr::malloc> allocated: a
pointer made from an address, or answered by a method, points to memory
that belongs to someone else.  Nothing the storage points to is freed,
C strings stored into it included: store C<undef> first to release them.

=item $ptr->FETCH, $ptr->STORE($value)

Read and write the pointed-to value, converted by its type as message
arguments and results are (L</Arguments and results>).  Reading through a
null pointer gives C<undef>; writing croaks
C<cannot store value at NULL pointer>.  C strings stored through a
pointer (also inside structures and arrays) are copies that the storage
owns: each store frees the string stored before, and storing C<undef>
releases it.

=back

Nothing checks an address beyond the null test: a pointer made from an
arbitrary number points wherever the program says.

=for example begin

    use strict;
    use warnings;
    use Vantle;

    my $point = Vantle::Ptr::new('struct pt { int x; double y; } *');
    Vantle::Ptr::malloc($point);
    $point->STORE({ x => 1, y => 2.5 });
    my $value = $point->FETCH;
    print "$value->{x} $value->{y} $value->{__signature}\n";
    print Vantle::Ptr::type($point), "\n";
    Vantle::Ptr::free($point);
    print Vantle::Ptr::value($point), "\n";

    # An out-parameter: -[NSScanner scanInt:] writes through an int *.
    my $number = Vantle::Ptr::malloc(Vantle::Ptr::new('int *'));
    my $scanner = NSScanner->scannerWithString_("42 apples");
    print $number->FETCH, "\n" if $scanner->scanInt_($number);
    Vantle::Ptr::free($number);

    # A buffer: five unsigned shorts, for the unsigned short * the method
    # declares (a pointer to an array fits a pointer to its elements).
    my $buffer = Vantle::Ptr::malloc(Vantle::Ptr::new('unsigned short [5] *'));
    NSString->stringWithString_("hello")
        ->getCharacters_range_($buffer, { location => 0, length => 5 });
    print join(" ", map { chr } @{ $buffer->FETCH }), "\n";
    Vantle::Ptr::free($buffer);

=for example end

It prints:

=for example output

    1 2.5 "x"i"y"d
    ^{pt="x"i"y"d}
    0
    42
    h e l l o

=head1 INSTANCE VARIABLES AND TIED VIEWS

=head2 Tied views

Dereferencing a handle as a hash (C<< $h->{key} >>, C<%$h>) or as an
array (C<< $h->[1] >>, C<@$h>) gives the handle's view: a container tied
to a handle of the object.  Every handle of one object answers the same
hash view and the same array view while they live, so Perl's iterators,
which live in the container, work as on Perl data:
C<while (my ($k, $v) = each %$h)> and C<while (my ($i, $v) = each @$h)>
walk the entries once, and walks of different objects may nest.  A view
lives as long as the object has handles; a view that Perl code keeps
(C<< my $keys = \@{ $d->allKeys } >>) keeps the object's handle usable after
the other handles are gone.  C<tie %h, 'Vantle::Object', $handle> (or
C<tie @a, ...>) ties a container of your own to the object.  What a view
shows depends on the object:

=over 4

=item Arrays

With C<perlify_foundation> on, an C<NSArray> shows its elements by index.
Elements read are handles.  Storing at an index below the count replaces
the element, at the count appends; C<exists>, C<keys> (the indexes), the
size (C<scalar @$h>, C<$#$h>) and negative indexes work.  Other indexes
croak with the Foundation exception
(C<Vantle::Object::FETCH: NSRangeException: ...>).  An C<NSMutableArray>
also takes every whole-array operation as a Perl array does: C<push>,
C<pop>, C<shift>, C<unshift>, C<splice> (with Perl's rules for negative
and missing offsets and lengths, answering the elements removed, or the
last of them in scalar context), C<$#$h = n>, C<@$h = ()> and
C<@$h = (LIST)>.  C<delete> removes the element, closing the gap as
C<removeObjectAtIndex:> does (unlike a Perl array, which leaves a hole),
and answers it.  An array holds no nil: C<undef> is stored as the shared
C<BqNil>, which also fills an array that C<$#$h = n> makes longer, and
C<BqNil> elements read as C<undef>.

=item Dictionaries

With C<perlify_foundation> on, an C<NSDictionary> shows its entries:
values are read as handles (the nil handle for a missing key, C<undef>
for C<BqNil>), keys as the text of their descriptions.  Keys and values
stored are converted like object arguments; C<undef> is stored as
C<BqNil>.  C<delete> answers the value it removed (C<undef> for a missing
key), C<%$h = ()> empties an C<NSMutableDictionary>, and C<scalar(%$h)>
is the number of entries.  C<each>, C<keys> and C<values> walk the keys
the dictionary had when the walk began, one lookup per step; entries may
be deleted during the walk (keys deleted before they come are skipped),
and keys added are not seen.

=item Objects with allHashKeys

With C<hash_perlify> on, an object that answers C<allHashKeys> shows
those keys, read with C<valueForKey:> and written with
C<takeValue:forKey:>.  A walk sees the keys that C<allHashKeys> answered
when it began.

=item Any other object

Its instance variables by name (L</Instance variables>).

=back

Changing an immutable C<NSArray> or C<NSDictionary> croaks with the tie
method and the class, as C<Vantle::Object::PUSH: NSArray is not mutable>
or C<Vantle::Object::CLEAR: NSDictionary is not mutable>; nothing is
changed.  Objects that are no collections cannot be cleared or have keys
deleted (C<Vantle::Object::CLEAR: cannot delete ivar>), and array
operations on anything but an array croak
C<Vantle::Object::PUSH: not an array>.

=for example begin

    use strict;
    use warnings;
    use Vantle;

    my $array = Vantle::obj(["zero", "one"]);
    print $array->[1], "\n";
    $array->[2] = "two";                     # appends
    print scalar(@$array), " ", $array->[-1], "\n";
    push @$array, "three", "four";
    my @removed = splice(@$array, 1, 2, "ONE");
    print "@removed / @$array\n";
    $#$array = 4;                            # grows with undef
    print defined $array->[4] ? "defined\n" : "undef\n";

    my $colours = Vantle::obj({ sky => "blue" });
    $colours->{grass} = "green";
    print join(", ", map { "$_=$colours->{$_}" } sort keys %$colours), "\n";
    while (my ($thing, $colour) = each %$colours) {
        delete $colours->{$thing} if $colour eq "blue";
    }
    print exists $colours->{sky} ? "still there\n" : "deleted\n";
    print Vantle::nil($colours->{nothing}), "\n";

=for example end

It prints:

=for example output

    one
    3 two
    one two / zero ONE three four
    undef
    grass=green, sky=blue
    deleted
    1

=head2 Instance variables

The instance variables of an object are read and written by name,
converted by their declared types:

=over 4

=item $h->{name}, $h->{name} = $value

Through the tied hash of an object that is no collection.  C<keys %$h>
lists the object's own variables first, then those of its superclasses.
A missing name croaks C<Vantle::Object::FETCH: no ivar "name">;
variables cannot be deleted.

=item Vantle::ivar_get($object, $name), Vantle::ivar_set($object, $name, $value)

The same as functions; C<ivar_set> answers the object.  The variables of a
class object can be read but are never written
(C<refusing to modify class vars>).  Nor is an object's class pointer,
C<isa>, which every way of writing a variable refuses
(C<Vantle::ivar_set: refusing to modify isa, the object's class>): the
next message to the object would go to another class's methods.  To
change what an object is, make a new one.

=item Vantle::ivar($scalar, $object, $name)

Links the Perl scalar to the variable: every read of the scalar reads the
variable, every assignment writes it (through the tie class
C<Vantle::IVar>).

=back

Object variables are written as they are, without C<retain> or
C<release>, which the object's own code would have to do.  A C<char *>
variable receives a private copy of the string and frees the string it
held, so it must hold null or a string from the default malloc zone.

=for example begin

    use strict;
    use warnings;
    use Vantle;

    my $error = NSError->errorWithDomain_code_userInfo_("Demo", 7, undef);
    print $error->{_code}, "\n";
    $error->{_code} = 42;
    print $error->code, "\n";

    Vantle::ivar(my $code, $error, '_code');
    $code = 9;
    print $error->code, "\n";
    print Vantle::ivar_get($error, '_domain'), "\n";

    my $value = NSValue->valueWithRange_({ _0 => 3, _1 => 4 });
    my $range = $value->{data};               # a structure variable
    print "$range->{location} $range->{length}\n";

=for example end

It prints:

=for example output

    7
    42
    9
    Demo
    3 4

=head1 TYPED STREAMS

L<Vantle::TypedStream> writes values with their type encodings, and whole
object graphs, to files, and reads them back.

=head1 FUNCTIONS

=over 4

=item Vantle::obj(@values), Vantle::pl(@values), Vantle::data($bytes)

L</Vantle::obj and Vantle::pl>.

=item Vantle::autorelease_pool()

L</Ownership and autorelease pools>.

=item Vantle::msg_send($receiver, $selector, @args)

=item Vantle::msg_send_super($receiver, $class, $selector, @args)

L</Literal selectors: Vantle::msg_send>, L</Messages to super>.

=item Vantle::nil(), Vantle::nil($value), Vantle::object_is_bad($value), Vantle::class($name), Vantle::class_lookup($name)

L</nil, bad objects and classes>.

=item Vantle::ivar_get, Vantle::ivar_set, Vantle::ivar

L</Instance variables>.

=item Vantle::Ptr::new, type, value, malloc, free, FETCH, STORE

L</TYPED POINTERS>.

=item Vantle::info()

The banner.

=item Vantle::super()

The marker of sends to super from a method (L</Messages to super>).

=item Vantle::EVAL($text), Vantle::SOURCE($file)

Evaluate text and files for Objective-C code as the interpreter object
does (it calls the sub behind C<Vantle::EVAL> directly, and C<Vantle::EVAL>
itself only when that sub was undefined): the text runs in package
C<main>, without C<strict> or C<warnings>, in the caller's context, and a
Perl error is passed on to the caller.

=back

Other subs of the packages C<Vantle>, C<Vantle::Object>, C<Vantle::RuntimeClass>,
C<Vantle::AutoreleasePool>, C<Vantle::Control>, C<Vantle::IVar>,
C<Vantle::LinkVar> and C<Vantle::Hook> serve the module itself and its
tie classes.

=head1 LIMITATIONS

=over 4

=item *

Methods with variable argument lists other than formats
(C<arrayWithObjects:>, C<dictionaryWithObjectsAndKeys:>) are sent their
named arguments only: an extra argument adds a colon to the selector,
which then names no method.  A nil-terminated list ends right after the
named arguments, so C<< NSArray->arrayWithObjects_("a") >> is an array of
one.  Use the fixed forms (C<arrayWithArray:>, C<Vantle::obj>) for
anything longer.  Formats are passed in full (L</Format methods>).

=item *

The runtime initialises a class when it is first used.  Two threads that
use the same class for the very first time at the same instant can crash
inside GNUstep (measured with GNUstep alone, without this module); a
program that starts threads which all work with classes no thread has
touched yet uses those classes once first (L</THREADS AND FORK>).

=item *

A package that the program defines under a class's name after loading the
module (L</Class messages>) keeps C<Vantle::RuntimeClass> in its C<@ISA> until
the module is first asked to answer for it (a method the package lacks,
C<isa>, C<can> ...); until then a function call such as
C<UNIVERSAL::isa('List', 'Vantle::RuntimeClass')> still sees that parent.

=back

=head1 SEE ALSO

L<Vantle::TypedStream>; F<README.md> for Objective-C programs that embed
Perl and use it through the interpreter object; F<examples/tour.pl>.

=cut
