# The module's own subs beside the message send: the super marker, the
# identification banner and the directory a module was loaded from.
use strict;
use warnings;
use Test::More;
use Vantle;
use Vantle::TestSupport;

subtest 'super marker' => sub {
    my $first = Vantle::super();
    is(Vantle::super(), $first, 'every call answers the same reference');
    is(ref($first), 'Vantle::Super', 'blessed into Vantle::Super');
    eval { $$first = "other" };
    like($@, qr/read-only/, 'its referent is read-only');
    eval { Vantle::super(1) };
    like($@, qr/^Usage: Vantle::super/, 'takes no arguments');
};

like(Vantle::info(), qr/^Vantle .*Linux.*GNUstep/, 'the banner names this platform');

subtest 'module directory' => sub {
    local $INC{'Dravik.pm'} = '/opt/lib/perl\\Dravik.pm';
    is(Vantle::TestSupport::module_directory('Dravik.pm'), '/opt/lib/perl',
	'a backslash separates the directory too');
    local $INC{'Dravik.pm'} = '/opt/lib/perl/DRAVIK.PM';
    is(Vantle::TestSupport::module_directory('Dravik.pm'), '/opt/lib/perl',
	'the ending is compared without regard to case');
    local $INC{'Dravik.pm'} = '/opt/lib/perl/XDravik.pm';
    is(Vantle::TestSupport::module_directory('Dravik.pm'), undef,
	'a longer last component is no match');
    is(Vantle::TestSupport::module_directory('Nowhere.pm'), undef, 'a missing key');
    like(Vantle::TestSupport::module_directory('Vantle.pm'), qr{blib/lib$},
	'where this Vantle.pm came from');
};

# The module's own variables are made from C at load time; perl must not
# take them for names the program mentions only once.
{
    my @inc = map { "-I$_" } grep { m{blib} } @INC;
    my $out = qx{$^X -w @inc -e "use Vantle; print 'loaded'" 2>&1};
    is($out, 'loaded', 'loading under -w prints no warning');
}

done_testing;
