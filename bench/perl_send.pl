#!/usr/bin/perl
# The cost of messages sent from Perl, each as a ratio to a Perl method
# call on a blessed hash measured in the same run; and what loading the
# module adds to a bare perl.
#
#   perl -Mblib=build bench/perl_send.pl [iterations]
#
# The FFI::Platypus route is how a Perl user without this module would
# send -length: look the implementation up with objc_msg_lookup, then call
# it through libffi.
use strict;
use warnings;
use Time::HiRes qw(time);
use FFI::Platypus 2.00;
use Vantle;

my $N = shift // 300_000;

package Plain { sub new { bless {}, shift } sub f { 1 } }

sub best_of {
    my ($code) = @_;
    my $best;
    for (1 .. 5) {
	my $start = time;
	$code->();
	my $elapsed = time - $start;
	$best = $elapsed if !defined $best || $elapsed < $best;
    }
    return $best / $N * 1e9;
}

my $plain = Plain->new;
my $string = NSString->stringWithString_("a string of some length");
my $dict = NSMutableDictionary->dictionary;
$dict->setObject_forKey_("value", "key");
my $key = NSString->stringWithString_("key");

my $ffi = FFI::Platypus->new(api => 2);
$ffi->lib(undef, 'libobjc.so.4');
my $lookup = $ffi->function(objc_msg_lookup => ['opaque', 'opaque'] => 'opaque');
my $selector = $ffi->function(sel_getUid => ['string'] => 'opaque')->call('length');
my $receiver = $$string;	# the handle's referent is the object's address
my $length_imp = $ffi->function($lookup->call($receiver, $selector)
    => ['opaque', 'opaque'] => 'uint64');

my $perl = best_of(sub { $plain->f for 1 .. $N });
my @rows = (
    [ '$str->length', best_of(sub { $string->length for 1 .. $N }) ],
    [ '$dict->objectForKey_($k)', best_of(sub {
	my $pool = NSAutoreleasePool->new;
	$dict->objectForKey_($key) for 1 .. $N;
	$pool->release;
    }) ],
    [ 'NSNumber->numberWithInt_(5)', best_of(sub {
	my $pool = NSAutoreleasePool->new;
	NSNumber->numberWithInt_(5) for 1 .. $N;
	$pool->release;
    }) ],
    [ 'length via FFI::Platypus', best_of(sub {
	for (1 .. $N) {
	    my $imp = $lookup->call($receiver, $selector);
	    $length_imp->call($receiver, $selector);
	}
    }) ],
);

printf "%-30s %10s %8s\n", 'operation', 'ns/call', 'ratio';
printf "%-30s %10.0f %8.2f\n", 'Perl method call (baseline)', $perl, 1;
printf "%-30s %10.0f %8.2f\n", $_->[0], $_->[1], $_->[1] / $perl for @rows;
printf "%-30s %19.2f\n", 'FFI route / $str->length', $rows[3][1] / $rows[0][1];

# Loading: the median of several fresh perls, with and without the module.
sub median_ms {
    my @args = @_;
    my @times;
    for (1 .. 9) {
	my $start = time;
	system($^X, @args) == 0 or die "perl @args failed\n";
	push @times, (time - $start) * 1000;
    }
    @times = sort { $a <=> $b } @times;
    return $times[4];
}
my @blib = map { "-I$_" } grep { m{blib} } @INC;
my $bare = median_ms('-e', '1');
my $with = median_ms(@blib, '-MVantle', '-e', '1');
printf "%-30s %10.1f ms\n", 'use Vantle adds', $with - $bare;
