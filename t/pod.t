# The documentation of every module under lib/: its POD is clean for
# Pod::Checker, and the examples it marks as runnable run against the
# built module and print what the POD says they print.
#
# An example is the verbatim text between the paragraphs
# "=for example begin" and "=for example end".  When a "=for example
# output" paragraph follows (ordinary text may come between), the
# verbatim paragraphs after it are what the example must print on
# standard output.  Each example runs as a
# program of its own, in a new empty directory, and must exit with
# status 0 and write nothing to standard error.
use strict;
use warnings;
use Test::More;
use File::Find ();
use File::Temp qw(tempdir);
use Cwd qw(abs_path);
use FindBin;
use Pod::Checker ();

my $lib = abs_path("$FindBin::Bin/../lib");

my @modules;
File::Find::find({ no_chdir => 1, wanted => sub { push @modules, $_ if /\.pm\z/ } }, $lib);
@modules = sort @modules;
ok(scalar(@modules) >= 2, 'modules found under lib/') or diag("looked in $lib");

# The include path of this test, absolute, for the example programs.
my @include = map { '-I' . abs_path($_) } grep { !ref($_) && -d $_ } @INC;

sub unindent {
    my @lines = @_;
    shift @lines while @lines && $lines[0] !~ /\S/;
    pop @lines while @lines && $lines[-1] !~ /\S/;
    my ($indent) = sort { length($a) <=> length($b) }
                   map { /^([ \t]*)/ ? $1 : '' } grep { /\S/ } @lines;
    $indent //= '';
    return join '', map { s/^\Q$indent\E//r . "\n" } @lines;
}

# The marked examples of a file: [line, code, expected output or undef].
sub examples_of {
    my ($file) = @_;
    open(my $in, '<', $file) or die "$file: $!";
    chomp(my @lines = <$in>);
    close $in;
    my (@examples, $state, @code, @output, $start);
    my $in_pod = 0;
    my $finish_output = sub {
        $examples[-1][2] = unindent(@output) if $state && $state eq 'output';
        @output = ();
        $state = undef;
    };
    for my $i (0 .. $#lines) {
        my $line = $lines[$i];
        my $paragraph_start = $i == 0 || $lines[$i - 1] !~ /\S/;
        if (!$in_pod) {
            $in_pod = 1 if $paragraph_start && $line =~ /^=[a-zA-Z]/ && $line !~ /^=cut\b/;
            next unless $in_pod;
        }
        if ($paragraph_start && $line =~ /^=/) {
            if ($line =~ /^=for\s+example\s+begin\s*$/) {
                $finish_output->();
                die "$file line ", $i + 1, ": example inside an example\n" if $state;
                ($state, $start, @code) = ('code', $i + 1);
            } elsif ($line =~ /^=for\s+example\s+end\s*$/) {
                die "$file line ", $i + 1, ": end without begin\n" unless $state && $state eq 'code';
                push @examples, [$start + 1, unindent(@code), undef];
                $state = 'after';
            } elsif ($line =~ /^=for\s+example\s+output\s*$/) {
                die "$file line ", $i + 1, ": output without example\n"
                    unless $state && $state eq 'after';
                $state = 'output';
            } else {
                die "$file line ", $i + 1, ": POD command inside an example\n"
                    if $state && $state eq 'code';
                $finish_output->();
                $in_pod = 0 if $line =~ /^=cut\b/;
            }
            next;
        }
        next unless $state;
        if ($state eq 'code') {
            push @code, $line;
        } elsif ($state eq 'output') {
            if ($paragraph_start && $line =~ /^\S/) {
                $finish_output->();
            } else {
                push @output, $line;
            }
        } elsif ($state eq 'after' && $paragraph_start && $line =~ /^\s+\S/) {
            $state = undef;    # a verbatim paragraph that is no expected output
        }
    }
    die "$file: example not ended\n" if $state && $state eq 'code';
    $finish_output->();
    return @examples;
}

# Runs code as a program in a new directory: its exit status, standard
# output and standard error.
sub run_example {
    my ($code) = @_;
    my $dir = tempdir(CLEANUP => 1);
    my $script = "$dir/example.pl";
    my $errors = "$dir/stderr.txt";
    open(my $out, '>', $script) or die "$script: $!";
    print $out $code;
    close $out;
    my $pid = open(my $from, '-|');
    die "fork: $!" unless defined $pid;
    if ($pid == 0) {
        open(STDERR, '>', $errors) or die "$errors: $!";
        chdir $dir or die "$dir: $!";
        exec($^X, @include, $script) or die "exec $^X: $!";
    }
    my $stdout = do { local $/; <$from> } // '';
    close $from;
    my $status = $?;
    open(my $err, '<', $errors) or die "$errors: $!";
    my $stderr = do { local $/; <$err> } // '';
    close $err;
    return ($status, $stdout, $stderr);
}

my $example_count = 0;
for my $file (@modules) {
    my $name = substr($file, length($lib) + 1);
    subtest "$name: POD" => sub {
        my $report = '';
        open(my $sink, '>', \$report) or die;
        my $checker = Pod::Checker->new(-warnings => 2);
        $checker->parse_from_file($file, $sink);
        close $sink;
        # num_errors is -1 for a file without POD.
        ok($checker->num_errors == 0 && $checker->num_warnings == 0, 'no errors, no warnings')
            or diag($report || 'no POD found');
    };

    my @examples = eval { examples_of($file) };
    is($@, '', "$name: examples are marked properly");
    $example_count += @examples;
    for my $example (@examples) {
        my ($line, $code, $expected) = @$example;
        subtest "$name line $line: example" => sub {
            my ($status, $stdout, $stderr) = run_example($code);
            is($status, 0, 'exits with status 0');
            is($stderr, '', 'writes nothing to standard error');
            is($stdout, $expected, 'prints what the documentation shows') if defined $expected;
        };
    }
}

ok($example_count > 0, "$example_count examples found");

done_testing();
