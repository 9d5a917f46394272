package Vantle::Class;

# Objective-C classes defined in Perl.  The class is made when the module
# is used (at compile time, before the subs below it are compiled); each
# sub marked :Method or :ClassMethod becomes a method of it as Perl
# compiles the sub.  The runtime work is done by XS subs of Vantle
# (_define, _add_method); this file reads declarations and attributes.

use strict;
use warnings;

use Carp ();
use Vantle ();

our $VERSION = '3.1';

# package => class name, for the attribute handlers.
my %class_of_package;

# "-[Class selector]" => the code of every method (filled by _add_method):
# a thread's cloned interpreter finds its copy of the code here.
our %CODE;

my %known_option = map { $_ => 1 } qw(superclass ivars protocols package);

sub import {
    my $module = shift;
    return unless @_;
    my $caller = caller;
    my $name = @_ % 2 ? shift : $caller;
    define($name, package => $caller, @_);
    return;
}

# define(NAME, superclass => ..., ivars => [...], protocols => [...],
#        package => ...): makes (or checks, when defined before) the class
# and makes the package's :Method subs its methods.  Answers the class.
sub define {
    my ($name, %option) = @_;
    Carp::croak('Vantle::Class: a class needs a name') unless defined $name && length $name;
    Carp::croak("Vantle::Class: \"$name\" is not a class name (letters, digits and _); "
        . "name the class: use Vantle::Class 'Name', ...")
        unless $name =~ /\A[A-Za-z_][A-Za-z0-9_]*\z/;
    for my $key (sort keys %option) {
        Carp::croak("Vantle::Class: unknown option $key for class $name")
            unless $known_option{$key};
    }
    my $package = $option{package} // scalar caller;
    my $superclass = $option{superclass} // 'NSObject';
    my @ivars = map { [ _ivar_declaration($name, $_) ] } @{ _list($name, ivars => $option{ivars}) };
    my $protocols = _list($name, protocols => $option{protocols});
    my $class = eval { _define($name, $superclass, $package, \@ivars, $protocols) };
    Carp::croak(_bare($@)) unless $class;
    $class_of_package{$package} = $name;
    _install_attribute_handler($package);
    return $class;
}

# add_method(CLASS, DECLARATION-or-SELECTOR, CODE) and
# add_class_method(...): a method whose sub is CODE.
sub add_method       { _add(0, @_) }
sub add_class_method { _add(1, @_) }

sub _add {
    my ($class_method, $class, $what, $code, $sub_name) = @_;
    Carp::croak('Usage: Vantle::Class::add_method(class, declaration, code)')
        unless defined $what && ref $code eq 'CODE';
    my ($selector, $types, $declared_class_method) = _method_declaration($what);
    $class_method = 1 if $declared_class_method;
    my $handle = ref $class ? $class : Vantle::class_lookup($class)
        or Carp::croak("Vantle::Class: no class $class");
    my $send = eval { _add_method($handle, $selector, $types, $code, $class_method, $sub_name) }
        or Carp::croak(_bare($@));
    return $send;
}

# Perl's " at FILE line N." of an XS croak, which Carp gives again.
sub _bare {
    my ($message) = @_;
    $message =~ s/ at \S+ line \d+\.?\n\z//;
    return $message;
}

sub _list {
    my ($name, $what, $value) = @_;
    return [] unless defined $value;
    return $value if ref $value eq 'ARRAY';
    Carp::croak("Vantle::Class: $what of class $name must be an array reference");
}

# "NSString *name", "int values[4]" => (name, C type declaration).
sub _ivar_declaration {
    my ($class, $declaration) = @_;
    my $text = $declaration // '';
    $text =~ s/\s*;\s*\z//;
    if ($text =~ /\A(.*?[^\s\w]?)\s*\b([A-Za-z_]\w*)\s*((?:\[\s*\w*\s*\]\s*)*)\z/s) {
        my ($type, $name, $dimensions) = ($1, $2, $3);
        $type .= " $dimensions" if length $dimensions;
        $type =~ s/\s+\z//;
        return ($name, $type) if length $type;
    }
    Carp::croak("Vantle::Class: instance variable \"$text\" of class $class is not "
        . 'a C declaration such as "int count"');
}

# The text inside the outermost parentheses at the start of $_[0],
# and what follows them; nothing when they do not close.
sub _parenthesized {
    my ($text) = @_;
    return unless $text =~ /\A\s*\(/;
    my ($depth, $start) = (0, index($text, '('));
    for my $i ($start .. length($text) - 1) {
        my $c = substr($text, $i, 1);
        $depth++ if $c eq '(';
        next unless $c eq ')' && --$depth == 0;
        return (substr($text, $start + 1, $i - $start - 1), substr($text, $i + 1));
    }
    return;
}

# A method declaration ("int add: (int) a to: (int) b", "- (id) init",
# "+ (id) counterWithCount: (int) n", "NSString * description") or a bare
# selector ("add:to:") => (selector, [result, argument types] or undef,
# declared as a class method).
sub _method_declaration {
    my ($text) = @_;
    return ($text, undef, 0) if $text =~ /\A[A-Za-z_][\w:]*\z/;
    my $rest = $text;
    my $class_method = $rest =~ s/\A\s*([-+])\s*// && $1 eq '+';
    my ($result, @types, @keywords);
    if (my ($inside, $after) = _parenthesized($rest)) {
        ($result, $rest) = ($inside, $after);
    } elsif ($rest =~ /\A(.*?)\b([A-Za-z_]\w*)\s*:/s) {
        $result = $1;
        $rest = substr($rest, length $1);
    } elsif ($rest =~ /\A(.*?)\b([A-Za-z_]\w*)\s*\z/s) {
        ($result, $rest) = ($1, $2);
    }
    _bad_declaration($text) unless defined $result && $result =~ /\S/;
    $rest =~ s/\A\s+//;
    if ($rest =~ /\A([A-Za-z_]\w*)\s*\z/) {
        return ($1, [$result], $class_method);
    }
    while (length $rest) {
        $rest =~ s/\A([A-Za-z_]\w*)?\s*:\s*// or _bad_declaration($text);
        push @keywords, $1 // '';
        my ($type, $after) = _parenthesized($rest);
        if (defined $type) {
            $rest = $after;
        } else {
            $type = 'id';
        }
        push @types, $type;
        $rest =~ s/\A\s*[A-Za-z_]\w*(?=\s|\z)//;
        $rest =~ s/\A\s+//;
    }
    _bad_declaration($text) unless @keywords;
    return (join('', map { "$_:" } @keywords), [$result, @types], $class_method);
}

sub _bad_declaration {
    Carp::croak("Vantle::Class: \"$_[0]\" is not a method declaration such as "
        . '"int add: (int) a to: (int) b"');
}

# Perl name => selector: leading underscores kept, every other "_" a ":".
sub _selector_of_sub {
    my ($name) = @_;
    my ($lead, $rest) = $name =~ /\A(_*)(.*)\z/s;
    $rest =~ tr/_/:/;
    return $lead . $rest;
}

# Gives a package the attribute handler that turns :Method and
# :ClassMethod subs into methods; an attribute handler the package had
# gets the attributes this one does not take.
sub _install_attribute_handler {
    my ($package) = @_;
    no strict 'refs';
    my $slot = "${package}::MODIFY_CODE_ATTRIBUTES";
    my $previous = defined &$slot ? \&$slot : undef;
    return if $previous && $previous == \&_modify_code_attributes;
    no warnings 'redefine';
    *$slot = $previous
        ? sub {
            my ($pkg, $code, @rest) = _modify_code_attributes(@_);
            return @rest ? $previous->($pkg, $code, @rest) : ();
        }
        : \&_modify_code_attributes;
    *{"${package}::FETCH_CODE_ATTRIBUTES"} = \&_fetch_code_attributes
        unless defined &{"${package}::FETCH_CODE_ATTRIBUTES"};
    return;
}

my %attributes_of;	# code address => attributes taken

sub _modify_code_attributes {
    my ($package, $code, @attributes) = @_;
    my @rest;
    for my $attribute (@attributes) {
        my ($kind, $argument) = $attribute =~ /\A(Method|ClassMethod)(?:\((.*)\))?\z/s;
        unless ($kind) {
            push @rest, $attribute;
            next;
        }
        push @{ $attributes_of{0 + $code} }, $attribute;
        _method_attribute($package, $code, $kind eq 'ClassMethod', $argument);
    }
    return caller eq __PACKAGE__ ? ($package, $code, @rest) : @rest;
}

sub _fetch_code_attributes {
    my (undef, $code) = @_;
    return @{ $attributes_of{0 + $code} || [] };
}

sub _method_attribute {
    my ($package, $code, $class_method, $argument) = @_;
    my $class = $class_of_package{$package}
        or Carp::croak("Vantle::Class: package $package defines no class");
    require B;
    my $gv = B::svref_2object($code)->GV;
    my $sub = $gv->isa('B::SPECIAL') ? undef : $gv->NAME;
    my $full = defined $sub && $sub ne '__ANON__' ? "${package}::$sub" : undef;
    my $what;
    if (defined $argument && $argument =~ /\S/) {
        # The attribute's text is not Perl code: quotes ('', "", q{})
        # around the declaration are taken off, nothing is interpolated.
        ($what = $argument) =~ s/\A\s*(['"])(.*)\1\s*\z/$2/s
            or $what =~ s/\A\s*q\s*([{(\[<])(.*)[})\]>]\s*\z/$2/s;
    } elsif (defined $full) {
        $what = _selector_of_sub($sub);
    } else {
        Carp::croak("Vantle::Class: an anonymous :Method of class $class needs a declaration");
    }
    # Reported where the sub is, not in attributes.pm.
    my $send = eval { _add($class_method, $class, $what, $code, $full) } or do {
        my $cv = B::svref_2object($code);
        die _bare($@) . ' at ' . $cv->FILE . ' line ' . $cv->GV->LINE . ".\n";
    };
    # The package holds the sub that sends the method, so a call Perl
    # makes itself (Class->name) runs as a message too.
    if (defined $full) {
        no strict 'refs';
        no warnings 'redefine';
        *$full = $send;
        $attributes_of{0 + $send} = $attributes_of{0 + $code};
    }
    return;
}

1;

__END__

=head1 NAME

Vantle::Class - Objective-C classes whose methods are Perl subs

=head1 SYNOPSIS

=for example begin

    use strict;
    use warnings;
    use Vantle;

    package Counter {
        use Vantle::Class 'Counter',
            superclass => 'NSObject',
            ivars      => ['int count', 'NSString *name'],
            protocols  => ['NSCopying'];

        sub init : Method {
            my ($self) = @_;
            $self = Vantle::super->init or return;
            $self->{count} = 0;       # instance variables, as for any object
            return $self;
        }
        sub increment : Method('int increment') { ++$_[0]->{count} }
        sub add : Method('int add: (int) a to: (int) b') { $_[1] + $_[2] }

        # Overrides NSObject's; Foundation calls it too.
        sub description : Method { "<Counter $_[0]->{count}>" }
        sub compare_ : Method { $_[0]->{count} <=> $_[1]->{count} }

        # NSCopying gives the types.
        sub copyWithZone_ : Method {
            my ($self) = @_;
            my $copy = Counter->alloc->init;
            $copy->{count} = $self->{count};
            return $copy;
        }

        sub counterWithCount_ : ClassMethod('+ (id) counterWithCount: (int) n') {
            my ($class, $n) = @_;
            my $counter = $class->alloc->init->autorelease;
            $counter->{count} = $n;
            return $counter;
        }

        # Runs before NSObject's dealloc, which follows by itself.
        sub dealloc : Method { print "bye from $_[0]->{count}\n" }
    }

    my $c = Counter->alloc->init;
    $c->increment for 1 .. 3;
    print $c->add_to_(2, 3), " ", $c->description, "\n";
    $c->perl_data->{notes} = ['kept with the object'];

    my $list = NSMutableArray->array;
    $list->addObject_(Counter->counterWithCount_($_)) for 9, 4, 6;
    my $sorted = $list->sortedArrayUsingSelector_('compare:');
    print join(' ', map { $sorted->objectAtIndex_($_)->description } 0 .. 2), "\n";
    $c->release;

=for example end

It prints:

=for example output

    5 <Counter 3>
    <Counter 4> <Counter 6> <Counter 9>
    bye from 3

From Objective-C, the class is like any other; declare the methods the
host calls, as for any class it does not link with:

    @protocol Counting
    - (int) add: (int) a to: (int) b;
    @end

    id <Counting> c = [[NSClassFromString(@"Counter") alloc] init];
    int sum = [c add: 2 to: 3];
    [c release];

=head1 DESCRIPTION

C<Vantle::Class> makes real Objective-C classes at run time. A class
defined here is a subclass of any runtime class; Objective-C code
(Foundation, the web framework, host programs) makes instances of it and
messages them as it would any compiled class, and each message runs a Perl
sub.

=head2 Defining the class

    use Vantle::Class NAME, OPTIONS;
    use Vantle::Class OPTIONS;            # NAME is the current package
    Vantle::Class::define(NAME, OPTIONS); # at run time

The options are:

=over 4

=item superclass => NAME

The runtime class to inherit from (default C<NSObject>).

=item ivars => [DECLARATIONS]

Instance variables, each a C declaration with a name: C<'int count'>,
C<'NSString *name'>, C<'double point[2]'>, C<'struct pt { int x; int y; } origin'>.
Perl reads and writes them as hash elements of the handle
(C<< $self->{count} >>); Objective-C code sees ordinary instance variables.

=item protocols => [NAMES]

Protocols the class adopts: C<conformsToProtocol:> answers true for them,
and their methods give the types of the methods that implement them.

=item package => NAME

The package whose C<:Method> subs are the methods (default: the package
that uses the module).

=back

The class is made when the C<use> line is compiled, so the subs after it
become its methods as Perl compiles them. When the package is named as the
class, class messages the package does not define (C<< Counter->alloc >>)
are sent to the class as for any runtime class.

Failures croak and leave the runtime unchanged: a name that a class not
defined here already has, an unknown superclass or protocol, an instance
variable whose declaration does not parse or whose name is taken.

=head2 Methods

A sub becomes an instance method with the attribute C<:Method> and a class
method with C<:ClassMethod>. Its selector comes from the sub's name, with
every C<_> after the leading ones read as a colon (C<add_to_> is
C<add:to:>), or from a declaration given with the attribute:

    sub sum : Method('int add: (int) a to: (int) b') { ... }
    sub origin : Method('- (struct pt { int x; int y; }) origin') { ... }
    sub make : ClassMethod('+ (id) counterWithCount: (int) n') { ... }

The types of a method are, in this order:

=over 4

=item * those of the declaration given;

=item * those of the method it overrides (a superclass's, or its own
from an earlier load) or of the protocol method it implements;

=item * objects only: an C<id> result and one C<id> per colon.

=back

C<add_method(CLASS, DECLARATION, CODE)> and
C<add_class_method(CLASS, DECLARATION, CODE)> add a method from any code
reference; DECLARATION is a declaration as above or a bare selector.

=head2 Inside a method

The sub receives the receiver's handle (the class's, for a class method)
and then the arguments.  The handle in C<$_[0]> is the one the instance
keeps for itself and is read-only: copy it (C<< my $self = shift >>) to
use the variable for something else.  The arguments are converted from
C by their types as for any message result: numbers, strings, structures
(hash references keyed by member name), selectors, typed pointers,
objects as handles. Its value is converted to
the result type as any message argument is; a value that type cannot hold
raises an C<NSException> named "Perl Error" whose reason names the class,
the method and the type.

C<< Vantle::super->name(...) >> and C<< $self->SUPER::name(...) >> send to
the superclass's implementation with the method's receiver.

C<< $self->perl_data >> answers a hash reference of the instance's own,
made on first use; the hash is freed when the object is deallocated.

A sub named C<dealloc> runs when the object is deallocated; the
superclass's C<dealloc> runs after it by itself (a C<< Vantle::super->dealloc >>
in it does nothing). An error in C<dealloc> is reported on standard error
and the object is freed all the same.

=head2 Errors across the boundary

A Perl C<die> in a method called from Objective-C becomes an
C<NSException> named "Perl Error", raised once the Perl call is over; the
reason is C<-[Class selector]: > and the Perl message. An exception
raised by a message the method sends reaches the method as a Perl error it
can catch with C<eval>; uncaught, it reaches the Objective-C caller as the
original exception, not as a "Perl Error".

=head2 Loading a class file again

The runtime cannot remove a class, so a file that defines a class may be
loaded again (after an edit, say) only as a redefinition:

=over 4

=item Can change

The subs behind the methods (the new ones run from the next message on),
new methods, new protocols.

=item Cannot change

The superclass, the instance variables (names, types and order) and the
types of a method that exists. Changing them croaks; restart the program
to take them.

=back

A method whose sub is gone from the new file keeps its old sub.

=head2 Threads and interpreters

A class belongs to the Perl interpreter that defined it. A message that
arrives on a thread running another interpreter (a clone made by
C<threads>) runs the sub of the same name in that interpreter;
C<perl_data> is only for the defining interpreter.

=head1 SEE ALSO

L<Vantle>

=cut
