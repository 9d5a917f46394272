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

the platform's argument count becomes 1.

=back

=head1 FUNCTIONS

=over 4

=item Dravik::kludge_argv(LIST)

Makes LIST the argument vector the platform gives code that reads the
process arguments through it.  A second call warns
"Dravik::kludge_argv: already called!" and replaces the vector again.

=back

=head1 SEE ALSO

L<Vantle>, L<Vantle::Class>

=cut
