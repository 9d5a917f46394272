package Vantle::TypedStream;

# Typed streams: files of values written with their type encodings, and
# of whole object graphs.  The subs live in Vantle's shared object; this
# module finds that object, already loaded by Vantle, and runs the boot
# sub that registers them.

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
        or die "Vantle::TypedStream: cannot find the shared object of Vantle\n";
    my $libref = DynaLoader::dl_load_file($file, 0)
        or die "Vantle::TypedStream: cannot load $file: " . DynaLoader::dl_error() . "\n";
    return $libref;
}

{
    my $libref = _vantle_library();
    my $symbol = DynaLoader::dl_find_symbol($libref, 'boot_Vantle__TypedStream')
        or die "Vantle::TypedStream: no boot_Vantle__TypedStream: "
            . DynaLoader::dl_error() . "\n";
    my $boot = DynaLoader::dl_install_xsub('Vantle::TypedStream::bootstrap', $symbol, __FILE__);
    $boot->(__PACKAGE__);
}

1;

__END__

=head1 NAME

Vantle::TypedStream - typed-stream files from Perl

=head1 SYNOPSIS

=for example begin

    use strict;
    use warnings;
    use Vantle;
    use Vantle::TypedStream;

    my $shared = Vantle::obj({ name => "shared" });
    my $graph  = Vantle::obj([$shared, $shared, "text"]);

    my $ts = Vantle::TypedStream::KxOpenTypedStreamForFile("data.ts", "w");
    Vantle::TypedStream::KxWriteType($ts, "i", 42);
    Vantle::TypedStream::KxWriteType($ts, "*", "a C string");
    Vantle::TypedStream::KxWriteType($ts, "{pair=id}", { _0 => 7, _1 => 0.5 });
    Vantle::TypedStream::KxWriteRootObject($ts, $graph);
    Vantle::TypedStream::KxCloseTypedStream($ts);      # writes the file; $ts is null now

    $ts = Vantle::TypedStream::KxOpenTypedStreamForFile("data.ts", "r");
    Vantle::TypedStream::KxSetTypedStreamAllowedClasses($ts,
        [qw(NSMutableArray NSMutableDictionary NSString)]);
    print Vantle::TypedStream::KxReadType($ts, "i"), "\n";
    print Vantle::TypedStream::KxReadType($ts, "*"), "\n";
    my $pair = Vantle::TypedStream::KxReadType($ts, "{pair=id}");
    print "$pair->{_0} $pair->{_1}\n";
    my $copy = Vantle::TypedStream::KxReadObject($ts);
    print $copy->count, " ", $copy->[0]{name}, "\n";
    print $copy->[0] == $copy->[1] ? "one shared object\n" : "two copies\n";
    print Vantle::TypedStream::KxEndOfTypedStream($ts) ? "the end\n" : "more\n";
    Vantle::TypedStream::KxCloseTypedStream($ts);

=for example end

It prints:

=for example output

    42
    a C string
    7 0.5
    3 shared
    one shared object
    the end

=head1 DESCRIPTION

A typed stream is a file of values, each written with its type encoding,
and of whole object graphs.  This module offers the platform's typed
streams to Perl.  Load L<Vantle> first; the module exports nothing.

A stream is a typed pointer (L<Vantle/TYPED POINTERS>).  Only streams
opened here and not yet closed are accepted: any other pointer croaks
C<illegal typed stream>, and a closed stream, whose pointer (every copy of
it) is null, croaks C<NULL stream>.

Values are read back in the order they were written, each with exactly
the type it was written with.  Objects archive themselves through
C<NSCoding>; an object written twice to one stream, or reachable twice in
one graph (cycles included), is written once and read back as one object.

A write stream retains every object written to it until it is closed.
Objects read are kept alive by the stream until it is closed, and are
then left to the current autorelease pool (L<Vantle/Ownership and
autorelease pools>).  A stream whose last copy of its value goes away
(the variable goes out of scope, or is undefined) is closed then: a write
stream writes its file, and what a read stream holds is freed.  Close
streams explicitly to hear of a failed final write: when the stream is
closed because its value went away, that failure is only warned about.

A stream stays with the thread that opened it: like every typed pointer,
its variable is C<undef> in a new thread (L<Vantle/THREADS AND FORK>).
After C<fork> the child has a copy of every stream.  It reads a read
stream on its own, but only the process that opened a write stream writes
its file: in the child, writing to the stream and flushing it croak with
C<TYPEDSTREAM_CALLER_ERROR>, and closing or dropping the child's copy
leaves the file alone.

=head2 Reading files from others

A file is read by a reader that checks everything in it: a damaged or
forged file, even one whose length and checksum were recomputed after
the change, croaks with a typed-stream error that says what was wrong and
at which byte of the file, for example

    Vantle::TypedStream::KxReadObject: exception TYPEDSTREAM_FILE_INCONSISTENCY
    (a reference to object 9 when 3 were read at byte 187)

Counts and lengths that the rest of the file cannot hold are refused
before anything is allocated for them, and one read may allocate at most
an allocation limit (L</KxSetTypedStreamAllocationLimit($ts, $bytes)>).

What stays trusted are the classes.  A stream names the classes it makes
objects of, and each object is made by its class's C<initWithCoder:>,
which runs on what the file holds.  Only classes that descend from
C<NSObject> and declare C<NSCoding> are made at all, and the Foundation
collections, strings and C<NSValue> are read under extra checks of their
counts and type encodings; any other class's C<initWithCoder:> sees the
file's data as it is, and not all of them survive a forged file
(GNUstep's C<NSCharacterSet>, for one, can crash on one).  A program that
reads files from writers it does not trust should therefore name the
classes it expects with
L</KxSetTypedStreamAllowedClasses($ts, \@classes)>, as the example above
does.

=head1 FUNCTIONS

All functions are called with their full names
(C<Vantle::TypedStream::KxWriteType>).

=over 4

=item KxOpenTypedStreamForFile($file, $mode)

Opens a stream on the file: mode C<r> (or C<KX_READONLY>) to read, C<w>
(or C<KX_WRITEONLY>) to write.  A file opened for writing is created (or
emptied) at once and written when the stream is flushed or closed.  Croaks
C<illegal mode>, C<cannot open file FILE for reading> (or C<writing>), or
with C<TYPEDSTREAM_FILE_INCONSISTENCY> when the file is no intact typed
stream.

=item KxCloseTypedStream($ts)

Writes the file of a write stream and ends the stream; the pointer and
all its copies become null.  Answers the pointer.

=item KxFlushTypedStream($ts)

Writes everything written so far to the file of a write stream.

=item KxWriteType($ts, $type, $value), KxReadType($ts, $type)

Write a Perl value converted to the type, and read a value of that type
back into Perl, with the conversions of message arguments and results
(L<Vantle/Arguments and results>).  C<$type> is one type encoding (not a
declaration): integers C<c C s S i I l L q Q B>, floating point C<f d>, C
strings C<*> and C<%>, objects C<@>, classes C<#>, selectors C<:>, and
arrays (C<[3i]>) and structures (C<{pair=id}>, C<{named="n"i"s"*}>) of
these.  Pointers, unions, bit-fields and unknown types croak with
C<TYPEDSTREAM_TYPE_DESCRIPTOR_ERROR>.  A C string reads back as a byte
string, C<undef> for the null pointer.

=item KxWriteObject($ts, $object), KxWriteRootObject($ts, $object)

Write an object and the graph it archives; C<$object> is a handle (make
Perl data into objects with C<Vantle::obj> first) or C<undef> for nil.  A
root object lets objects inside its graph refer to others conditionally
(C<encodeConditionalObject:>): such an object is written only if the graph
also writes it unconditionally, and reads back as nil otherwise.

=item KxWriteObjectReference($ts, $object)

The conditional write itself; it is allowed only while a root object of
the same stream is being written, so from Perl code it always croaks with
C<TYPEDSTREAM_WRITE_REFERENCE_ERROR>.

=item KxReadObject($ts)

Reads an object written by any of the three, or with type C<@>, and
answers its handle (the nil handle for nil).  A stream refuses further
reads once a read failed half way, for example because an object's
C<initWithCoder:> raised; such an object is freed at once.

=item KxEndOfTypedStream($ts)

True when a read stream holds no more values.

=item KxSystemVersion($ts), KxTypedStreamClassVersion($ts, $class)

The archiver's system version, and the version of a class: as stored with
the objects of that class read so far (-1 when none was read yet), or for
a write stream the class's current version.

=item KxGetTypedStreamZone($ts), KxSetTypedStreamZone($ts, $zone)

The zone that reading allocates from, as a typed pointer.  Only zones
that C<KxGetTypedStreamZone> answered, and C<undef> for the default zone,
are accepted.

=item KxSetTypedStreamAllowedClasses($ts, \@classes)

Limits a read stream to objects (and class values, type C<#>) of the
classes named in the array.  Any other class croaks with
C<TYPEDSTREAM_CLASS_ERROR> before the class is looked up, let alone sent a
message.  The names are the ones the file stores: what the classes answer
to C<classForArchiver>, such as C<NSMutableArray>, C<NSMutableDictionary>,
C<NSString>, C<NSNumber> and C<NSData> for what C<Vantle::obj> makes, not
GNUstep's concrete classes.  An empty array allows no class at all;
C<undef> lifts the limit again, which is how a stream starts.  The limit
can be changed between reads.

=item KxSetTypedStreamAllocationLimit($ts, $bytes)

Sets how many bytes one read (one C<KxReadType> or C<KxReadObject>, with
everything the objects it makes read) of a read stream may ask for: the
objects it makes, the strings and data it copies, and the storage that
the element counts it accepts stand for.  A read that would go beyond it
croaks with C<TYPEDSTREAM_INTERNAL_ERROR>.  The default, which 0 restores,
is 64 times the size of the file's archive plus one megabyte; raise it
for files that hold much in little space (long runs of references to one
object, for example).  A number beyond the largest size, such as
C<9**9**9>, sets the largest limit.

=back

=head1 ERRORS

Errors of the stream croak with the function's name and
C<exception TYPEDSTREAM_...>, the platform's explanation following in
parentheses:

=over 4

=item TYPEDSTREAM_FILE_INCONSISTENCY

A damaged, truncated, forged or foreign file, or reading past the end.

=item TYPEDSTREAM_TYPE_DESCRIPTOR_ERROR

A type that cannot be written, or a read with another type than the one
written.

=item TYPEDSTREAM_CLASS_ERROR

An unknown class, a class the stream's allowed classes leave out, an
object that cannot be archived (its class does not declare C<NSCoding>),
or one whose C<initWithCoder:> refused the file's contents.

=item TYPEDSTREAM_WRITE_REFERENCE_ERROR

An object reference outside a root object.

=item TYPEDSTREAM_CALLER_ERROR

A misuse, such as reading a write stream, writing to a write stream that
another process opened, or using a stream after a call on it failed half
way: a read stream then refuses further reads, a write stream further
writes (closing it still writes the values completed before the failure).

=item TYPEDSTREAM_INTERNAL_ERROR

The file cannot be written, or a read would allocate more than the
stream's allocation limit.

=back

=for example begin

    use strict;
    use warnings;
    use Vantle;
    use Vantle::TypedStream;

    my $ts = Vantle::TypedStream::KxOpenTypedStreamForFile("numbers.ts", "w");
    Vantle::TypedStream::KxWriteType($ts, "i", 7);
    Vantle::TypedStream::KxCloseTypedStream($ts);

    $ts = Vantle::TypedStream::KxOpenTypedStreamForFile("numbers.ts", "r");
    print Vantle::TypedStream::KxReadType($ts, "i"), "\n";
    eval { Vantle::TypedStream::KxReadType($ts, "i") };
    print $@ =~ s/ at \S+ line \d+\.\n\z//r, "\n";
    Vantle::TypedStream::KxCloseTypedStream($ts);

    eval { Vantle::TypedStream::KxReadType($ts, "i") };
    print $@ =~ s/ at \S+ line \d+\.\n\z//r, "\n";

=for example end

It prints:

=for example output

    7
    Vantle::TypedStream::KxReadType: exception TYPEDSTREAM_FILE_INCONSISTENCY (KxReadType: the stream has no more values)
    NULL stream

=head1 SEE ALSO

L<Vantle>

=cut
