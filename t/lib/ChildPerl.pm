package ChildPerl;

# Runs Perl code in a child perl that sees the same modules as the test,
# so code that may crash the process (threads, fork, deliberate faults)
# fails one test instead of the whole file.

use strict;
use warnings;
use Exporter 'import';

our @EXPORT_OK = qw(run_perl);

# Runs code (a string); answers its exit status and what it printed on
# standard output and standard error, together.
sub run_perl {
    my ($code) = @_;
    my @include = map { "-I$_" } grep { !ref } @INC;
    my $pid = open(my $out, '-|') // die "fork: $!";
    if ($pid == 0) {
        open(STDERR, '>&', \*STDOUT) or die "dup: $!";
        exec($^X, @include, '-e', $code) or die "exec $^X: $!";
    }
    local $/;
    my $text = <$out> // '';
    close $out;
    return ($?, $text);
}

1;
