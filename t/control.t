# %Vantle::CONTROL: names in table order, process-wide byte flags, errors.
use strict;
use warnings;
use Test::More;

use Vantle;

my @names = qw(
    message_trace class_redefine_ok protocol_redefine_ok
    method_description_super_check method_description_check show_loading
    protocol_check_conformance use_ns_exceptions runtime_type_check
    bad_object_check perl_auto_convert perl_selector_map vantle_verbose
    perlify_foundation hash_perlify
);

subtest 'the module boots with the hash tied' => sub {
    isa_ok(tied(%Vantle::CONTROL), 'Vantle::Control');
    ok(defined &Vantle::obj && defined &Vantle::pl && defined &Vantle::nil,
       'the conversion and nil subs are there');
    ok(eval { require Vantle; Vantle->import; 1 }, 'loading again is harmless');
};

subtest 'names and start values' => sub {
    is_deeply([keys %Vantle::CONTROL], \@names, 'keys come in table order');
    my @seen;
    while (my ($name, $value) = each %Vantle::CONTROL) {
        push @seen, $name;
    }
    is_deeply(\@seen, \@names, 'each stops after the last name');
    my %expected = (
        message_trace => 0, class_redefine_ok => 1, protocol_redefine_ok => 0,
        method_description_super_check => 1, method_description_check => 0,
        show_loading => 0, protocol_check_conformance => 1, use_ns_exceptions => 0,
        runtime_type_check => 0, bad_object_check => 1, perl_auto_convert => 1,
        perl_selector_map => 0, vantle_verbose => 0, perlify_foundation => 1,
        hash_perlify => 0,
    );
    is_deeply({%Vantle::CONTROL}, \%expected, 'every control starts at its default');
    ok(exists $Vantle::CONTROL{hash_perlify}, 'a control exists');
    ok(!exists $Vantle::CONTROL{nosuch}, 'an unknown name does not');
    ok(!exists $Vantle::CONTROL{Message_Trace}, 'names are case-sensitive');
    ok(!exists $Vantle::CONTROL{"message_trace\0x"}, 'and compared whole');
};

subtest 'values are bytes' => sub {
    my %cases = (1 => 1, 0 => 0, 257 => 1, 255 => -1, 128 => -128, -1 => -1, 256 => 0);
    for my $stored (sort { $a <=> $b } keys %cases) {
        $Vantle::CONTROL{vantle_verbose} = $stored;
        is($Vantle::CONTROL{vantle_verbose}, $cases{$stored}, "storing $stored reads back as $cases{$stored}");
    }
    {
        my @warnings;
        local $SIG{__WARN__} = sub { push @warnings, @_ };
        $Vantle::CONTROL{vantle_verbose} = 'yes';
        is(scalar @warnings, 1, 'a word is no number');
    }
    is($Vantle::CONTROL{vantle_verbose}, 0, 'and stores its integer value, 0');
    $Vantle::CONTROL{vantle_verbose} = 0;
};

subtest 'one set of flags for the whole process' => sub {
    tie my %other, 'Vantle::Control';
    isa_ok(tied(%other), 'Vantle::Control');
    $other{message_trace} = 1;
    is($Vantle::CONTROL{message_trace}, 1, 'a second tie sees and changes the same flags');
    $Vantle::CONTROL{message_trace} = 0;
    is($other{message_trace}, 0, 'both ways');
    is_deeply([keys %other], \@names, 'and lists the same names');
};

subtest 'errors' => sub {
    ok(!eval { my $x = $Vantle::CONTROL{nosuch}; 1 }, 'fetching an unknown name');
    like($@, qr/^control variable nosuch does not exist at /, 'croaks with the name');
    ok(!eval { $Vantle::CONTROL{"n\x{e9}e"} = 1; 1 }, 'storing one');
    like($@, qr/^control variable n\x{e9}e does not exist at /, 'croaks with the name as given');
    ok(!eval { delete $Vantle::CONTROL{message_trace}; 1 }, 'deleting');
    like($@, qr/^Vantle::Control::DELETE: cannot delete control variable at /, 'croaks');
    is($Vantle::CONTROL{message_trace}, 0, 'and changes nothing');
    ok(!eval { %Vantle::CONTROL = (); 1 }, 'clearing the hash');
    like($@, qr/CLEAR/, "fails for want of a CLEAR method");

    my $tie = tied %Vantle::CONTROL;
    my %usage = (
        FETCH   => [[$tie], 'Usage: Vantle::Control::FETCH(x,ctrl)'],
        STORE   => [[$tie, 'message_trace'], 'Usage: Vantle::Control::STORE(x,ctrl,val)'],
        EXISTS  => [[$tie, 'a', 'b'], 'Usage: Vantle::Control::EXISTS(x,ctrl)'],
        NEXTKEY => [[$tie], 'Usage: Vantle::Control::NEXTKEY(x,ctrl)'],
    );
    for my $method (sort keys %usage) {
        my ($args, $message) = @{ $usage{$method} };
        no strict 'refs';
        ok(!eval { &{"Vantle::Control::$method"}(@$args); 1 }, "$method with a wrong count");
        like($@, qr/^\Q$message\E at /, 'croaks with its usage');
    }
};

subtest 'iteration steps' => sub {
    my $tie = tied %Vantle::CONTROL;
    is(Vantle::Control::FIRSTKEY($tie), 'message_trace', 'the first name');
    is(Vantle::Control::NEXTKEY($tie, 'message_trace'), 'class_redefine_ok', 'the next one');
    is(Vantle::Control::NEXTKEY($tie, 'hash_perlify'), undef, 'none after the last');
    is(Vantle::Control::NEXTKEY($tie, 'nosuch'), undef, 'none after an unknown name');
};

done_testing();
