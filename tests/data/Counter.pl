# A class defined in Perl for the host-side tests (tests/PerlClassTest.mm):
# the test program loads this file through the interpreter object and then
# uses the class from Objective-C only.  Beside the class, what the tests
# read back from Perl: counts of instances made and deallocated, and the
# tokens whose DESTROY ran.
package Counter;

use strict;
use warnings;

use Vantle;
use Vantle::Class 'Counter',
    superclass => 'NSObject',
    ivars      => ['int count', 'double scale'],
    protocols  => ['NSCopying'];

our $made = 0;
our $deallocated = 0;

sub init : Method {
    my ($self) = @_;
    $self = Vantle::super->init or return;
    $self->{count} = 0;
    $self->{scale} = 1.5;
    $made++;
    return $self;
}

sub counterWithCount_ : ClassMethod('id counterWithCount: (int) n') {
    my ($class, $n) = @_;
    my $counter = $class->alloc->init->autorelease;
    $counter->{count} = $n;
    return $counter;
}

sub madeCount : ClassMethod('int madeCount') { $made }

sub add : Method('int add: (int) a to: (int) b') { $_[1] + $_[2] }

sub increment : Method('int increment') { ++$_[0]->{count} }

sub description : Method { "<Counter $_[0]->{count}>" }

# Equal counts make equal counters, which hash alike.
sub isEqual_ : Method {
    my ($self, $other) = @_;
    return 0 unless $other && $other->isKindOfClass_(Vantle::class('Counter'));
    return $self->{count} == $other->{count} ? 1 : 0;
}

sub hash : Method { $_[0]->{count} }

# A negative count cannot be compared: the error reaches whoever sorts.
sub compare_ : Method('long compare: (id) other') {
    my ($self, $other) = @_;
    die "cannot compare a negative count\n" if $self->{count} < 0 || $other->{count} < 0;
    return $self->{count} <=> $other->{count};
}

sub copyWithZone_ : Method {
    my ($self, $zone) = @_;
    my $copy = Counter->alloc->init;
    $copy->{count} = $self->{count};
    return $copy;
}

# Structures by value: one that fits in registers, one returned in memory.
# (An attribute's declaration is its literal text, on one line.)
sub stretch : Method('struct Span { int start; int length; } stretch: (struct Span { int start; int length; }) span by: (int) n') {
    my ($self, $span, $n) = @_;
    return { start => $span->{start} - $n, length => $span->{length} + 2 * $n };
}

sub scaleBox : Method('struct Box { double x; double y; double width; double height; } scaleBox: (struct Box { double x; double y; double width; double height; }) box') {
    my ($self, $box) = @_;
    my $k = $self->{scale};
    return { x => $box->{x} * $k, y => $box->{y} * $k,
             width => $box->{width} * $k, height => $box->{height} * $k };
}

sub boom : Method('int boom: (int) n') { die "boom $_[1]\n" }

# Messages back into Objective-C, whose failures these let through.
sub sorted : Method('id sorted: (id) array') {
    my ($self, $array) = @_;
    return $array->sortedArrayUsingSelector_('compare:');
}

sub element : Method('id element: (id) array at: (int) index') {
    my ($self, $array, $index) = @_;
    return $array->objectAtIndex_($index);
}

sub relay : Method('void relay: (id) thrower') { $_[1]->raiseKept }

# The same send, its failure caught in Perl: the exception's name.
sub failureName : Method('id failureName: (id) array at: (int) index') {
    my ($self, $array, $index) = @_;
    return eval { $array->objectAtIndex_($index); 'none' }
        // ($@ =~ /^\[NSException (\w+)\]/)[0];
}

# Per-instance Perl data: a token whose DESTROY records that it went.
sub keep : Method('void keep: (int) token') {
    my ($self, $token) = @_;
    $self->perl_data->{token} = Counter::Token->new($token);
}

sub dealloc : Method { $deallocated++ }

package Counter::Token;

our @destroyed;

sub new { my ($class, $n) = @_; bless { n => $n }, $class }

sub DESTROY { push @destroyed, $_[0]{n} }

1;
