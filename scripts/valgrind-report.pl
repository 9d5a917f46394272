#!/usr/bin/perl
# Reads the XML that valgrind's memcheck wrote for one test file and says
# whether the run was clean.  Used by scripts/valgrind.sh:
#
#     perl scripts/valgrind-report.pl NAME STATUS XMLFILE
#
# NAME is the test file, STATUS the exit status of perl.  Prints one line
# for the file and, under it, every finding that counts with its stack.
# Exits 1 when the test failed, valgrind did not finish, or a finding
# counts: every memory error (invalid read or write, uninitialised value,
# bad free, ...) and every definite leak whose stack passes through our
# library, Vantle.so.  Definite leaks without our code are listed but do
# not count.  Suppressed findings (scripts/valgrind.supp) never reach the
# XML.
use strict;
use warnings;

my $OURS = qr{/Vantle\.so$};
my $FRAMES_SHOWN = 14;

#
# Unescape --
#	The text of an XML character-data string.
#
sub Unescape {
    my ($text) = @_;
    my %entities = (lt => '<', gt => '>', amp => '&', quot => '"', apos => "'");
    $text =~ s/&(lt|gt|amp|quot|apos);/$entities{$1}/g;
    return $text;
}

#
# Element --
#	The text of the first <tag> element inside xml, or undef.
#
sub Element {
    my ($xml, $tag) = @_;
    return $xml =~ m{<$tag>(.*?)</$tag>}s ? Unescape($1) : undef;
}

#
# Frames --
#	The frames of every stack of one error, each a hash of obj, fn,
#	file and line (missing ones undefined), the first stack first.
#
sub Frames {
    my ($error) = @_;
    my @stacks;
    for my $stack ($error =~ m{<stack>(.*?)</stack>}sg) {
	push @stacks, [map { my $f = $_; +{ map { ($_ => Element($f, $_)) } qw(obj fn file line) } }
	    $stack =~ m{<frame>(.*?)</frame>}sg];
    }
    return @stacks;
}

#
# Describe --
#	One line for a frame: the function and its source line, or the
#	object it lies in.
#
sub Describe {
    my ($frame) = @_;
    my $where = defined $frame->{file} ? "$frame->{file}:" . ($frame->{line} // '?')
	: ($frame->{obj} // '?');
    $where =~ s{.*/}{} unless defined $frame->{file};
    return ($frame->{fn} // '???') . " ($where)";
}

#
# Finding --
#	What one <error> element holds: kind, text, whether a frame lies in
#	our library, its stacks, and the notes (auxwhat) that introduce the
#	stacks after the first (where a block was allocated or freed, where
#	an uninitialised value came from).
#
sub Finding {
    my ($error) = @_;
    my $kind = Element($error, 'kind') // 'unknown';
    my $text = Element($error, 'what');
    $text = Unescape($1) if !defined $text && $error =~ m{<xwhat>\s*<text>(.*?)</text>}s;
    my @stacks = Frames($error);
    my @notes = map { Unescape($_) } $error =~ m{<auxwhat>(.*?)</auxwhat>}sg;
    my $ours = grep { defined $_->{obj} && $_->{obj} =~ $OURS } map { @$_ } @stacks;
    return { kind => $kind, text => $text // $kind, ours => $ours, stacks => \@stacks,
	     notes => \@notes };
}

#
# Counts --
#	Whether a finding makes the run fail: memory errors always,
#	definite leaks when our library is in the stack.
#
sub Counts {
    my ($finding) = @_;
    return $finding->{kind} =~ /^Leak_/ ? $finding->{ours} : 1;
}

#
# Show --
#	Prints a finding with the first frames of each of its stacks.
#
sub Show {
    my ($finding, $label) = @_;
    print "    $label $finding->{kind}: $finding->{text}\n";
    my @stacks = @{$finding->{stacks}};
    for my $i (0 .. $#stacks) {
	my $stack = $stacks[$i];
	print "      ", $finding->{notes}[$i - 1] // '', "\n" if $i > 0;
	my @shown = grep { defined $_ } @$stack[0 .. $FRAMES_SHOWN - 1];
	print "        ", ($_ == 0 ? "at " : "by "), Describe($shown[$_]), "\n" for 0 .. $#shown;
	print "        ...\n" if @$stack > $FRAMES_SHOWN;
    }
}

#
# Report --
#	Reads one XML file and prints the summary; answers 1 for a failed
#	run, 0 for a clean one.
#
sub Report {
    my ($name, $status, $file) = @_;
    open(my $in, '<', $file) or do { print "$name: FAILED, no valgrind output ($file: $!)\n"; return 1 };
    my $xml = do { local $/; <$in> };
    my @findings = map { Finding($_) } $xml =~ m{<error>(.*?)</error>}sg;
    my @counted = grep { Counts($_) } @findings;
    my @listed = grep { !Counts($_) } @findings;
    my $finished = $xml =~ m{<status>\s*<state>FINISHED</state>}s;

    my @problems;
    push @problems, "perl exited with status $status" if $status != 0;
    push @problems, "valgrind did not finish" unless $finished;
    push @problems, scalar(@counted) . " finding(s)" if @counted;
    my $notes = @listed ? " (" . scalar(@listed) . " definite leak(s) outside our code, listed)" : "";
    printf "%-22s %s%s\n", $name, @problems ? "FAILED: " . join(', ', @problems) : "clean", $notes;
    Show($_, '!') for @counted;
    Show($_, '-') for @listed;
    return @problems ? 1 : 0;
}

@ARGV == 3 or die "usage: $0 NAME STATUS XMLFILE\n";
exit Report(@ARGV);
