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
# as a hash or an array gives a fresh container tied to the handle, so
# `$h->{key}` and `$h->[1]` reach the tie methods of Vantle::Object.
#
# A handle prints as its object, is true unless it is nil (or, with the
# perlify_foundation control on, an empty or negative string or a zero
# number), compares by identity with == and != and by isEqual: with eq
# and ne.  ++ and -- turn the variable into the handle's Perl value (a
# number or string object's value, 0 for nil) and step that, as Perl
# steps a plain scalar.  Copies made before a mutator share the handle,
# which never changes.  Operators without an entry of their own are made
# from these conversions, or keep Perl's usual meaning.
use overload
    '%{}'  => \&Vantle::Hook::rv2hv,
    '@{}'  => \&Vantle::Hook::rv2av,
    '""'   => \&Vantle::Object::Id_2_String,
    '0+'   => \&Vantle::Object::Id_2_Number,
    'bool' => \&Vantle::Object::Id_2_Boolean,
    '=='   => \&Vantle::Object::Id_Is_Same,
    '!='   => \&Vantle::Object::Id_Is_Not_Same,
    'eq'   => \&Vantle::Object::Id_Is_Equal,
    'ne'   => \&Vantle::Object::Id_Is_Not_Equal,
    '++'   => sub { $_[0] = Vantle::Object::Id_Incr($_[0]); ++$_[0] },
    '--'   => sub { $_[0] = Vantle::Object::Id_Decr($_[0]); --$_[0] },
    '='    => sub { $_[0] },
    fallback => 1;

# The Perl side of the interpreter object (BqVantleInterp): it evaluates
# text through Vantle::EVAL and files through Vantle::SOURCE, in the
# caller's context.  An error is thrown on, so that the caller's trapped
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

Vantle - Objective-C objects in Perl

=head1 SYNOPSIS

    use Vantle;

    my $array  = Vantle::obj([1, "two", { three => 3 }]);  # NSMutableArray
    my $data   = Vantle::pl($array);                       # [1, "two", {...}]
    my $isnil  = Vantle::nil($handle);
    my $reason = Vantle::object_is_bad($handle);           # 0, or 1 and why
    $Vantle::CONTROL{message_trace} = 1;

=head1 DESCRIPTION

An object reaches Perl as a handle, a reference blessed into
C<Vantle::Object>.  All handles of one object refer to one read-only
scalar holding the object's address; handles do not keep their objects
alive, and a handle whose object was deallocated reads as
"Dealloc'ed object".

C<Vantle::obj> converts Perl data to Foundation objects by value
(strings, numbers, arrays, hashes; handles pass through) and answers
handles; C<Vantle::pl> converts objects back to Perl data.

C<%Vantle::CONTROL> shows the process-wide control switches by name.

=head2 Typed pointers

C pointers that are neither objects nor strings are C<Vantle::Ptr>
objects: a read-only pair of the pointer's type encoding and its address.
Types are named as in C:

    my $p = Vantle::Ptr::new('struct pt { int x; double y; } *');
    Vantle::Ptr::malloc($p);                 # zero-filled storage
    $p->STORE({ x => 1, y => 2.5 });         # converted by the type
    my $pt = $p->FETCH;                      # { x => 1, y => 2.5, __signature => ... }
    Vantle::Ptr::type($p);                   # '^{pt="x"i"y"d}'
    Vantle::Ptr::value($p);                  # the address
    Vantle::Ptr::free($p);                   # and $p is null again

Structures cross as hashes keyed by member name (C<_0>, C<_1> ... for
members without one), arrays as array references.  C strings stored
through a pointer are copies that the pointed-to storage owns: store
C<undef> to release one.  Freeing a pointer never frees what it points to.

=cut
