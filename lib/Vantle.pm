package Vantle;

# The Perl side of the bridge to the Objective-C runtime.  Loading it
# starts the runtime, registers the module's subs and ties
# %Vantle::CONTROL.

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
# Operators without an entry of their own keep Perl's usual meaning.
use overload
    '%{}' => \&Vantle::Hook::rv2hv,
    '@{}' => \&Vantle::Hook::rv2av,
    fallback => 1;

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

=cut
