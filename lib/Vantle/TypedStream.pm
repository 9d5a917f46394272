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

    use Vantle;
    use Vantle::TypedStream;

    my $ts = Vantle::TypedStream::KxOpenTypedStreamForFile('data.ts', 'w');
    Vantle::TypedStream::KxWriteType($ts, 'i', 42);
    Vantle::TypedStream::KxWriteType($ts, '*', 'text');
    Vantle::TypedStream::KxWriteRootObject($ts, $graph);
    Vantle::TypedStream::KxCloseTypedStream($ts);      # $ts is null now

    $ts = Vantle::TypedStream::KxOpenTypedStreamForFile('data.ts', 'r');
    my $n    = Vantle::TypedStream::KxReadType($ts, 'i');
    my $text = Vantle::TypedStream::KxReadType($ts, '*');
    my $copy = Vantle::TypedStream::KxReadObject($ts);
    Vantle::TypedStream::KxCloseTypedStream($ts);

=head1 DESCRIPTION

A stream is a typed pointer (C<Vantle::Ptr>); only streams opened here and
not yet closed are accepted.  Values are read back with the type they were
written with.  Objects archive through C<NSCoding>; an object written
twice, or reachable twice in one graph, is read back as one object.
Errors of the stream croak with the sub's name and
C<exception TYPEDSTREAM_...>, the platform's explanation following in
parentheses; a damaged, truncated or foreign file gives
C<TYPEDSTREAM_FILE_INCONSISTENCY>.

Modes are C<r> or C<KX_READONLY>, C<w> or C<KX_WRITEONLY>.

=cut
