# The Dravik module: loading it prepares the process for the web layer.
use strict;
use warnings;
use Test::More;

use Vantle;
BEGIN { $Vantle::CONTROL{$_} = 0 for qw(perl_selector_map perlify_foundation hash_perlify) }
use Dravik;

subtest 'loading switches the web controls on' => sub {
    is($Vantle::CONTROL{$_}, 1, $_)
        for qw(perl_auto_convert perl_selector_map perlify_foundation hash_perlify
            use_ns_exceptions);
    is($Vantle::CONTROL{vantle_verbose}, 0, 'vantle_verbose is left alone');
};

subtest 'kludge_argv' => sub {
    my @warnings;
    local $SIG{__WARN__} = sub { push @warnings, @_ };
    Dravik::kludge_argv(qw(prog one two));
    is(scalar @warnings, 0, 'the first call is quiet');
    Dravik::kludge_argv('again');
    is(scalar @warnings, 1, 'a second call warns once');
    like($warnings[0], qr/^Dravik::kludge_argv: already called!/, '... with the exact text');
};

done_testing;
