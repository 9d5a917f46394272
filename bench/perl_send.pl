#!/usr/bin/perl
# The cost of messages sent from Perl, each as a ratio to a Perl method
# call on a blessed hash measured in the same run; and what loading the
# module adds to a bare perl.
#
#   perl -Mblib=build bench/perl_send.pl [--ratios] [iterations]
#
# --ratios adds a machine-readable line per case after the table, for
# bench/run to collect (the format is in bench/bench_report.h):
# RATIO, benchmark, case, baseline, baseline ns, measured ns, ratio,
# separated by tabs.
#
# The FFI::Platypus route is how a Perl user without this module would
# send -length: look the implementation up with objc_msg_lookup, then call
# it through libffi.
use strict;
use warnings;
use Getopt::Long qw(GetOptions);
use Time::HiRes qw(time);
use FFI::Platypus 2.00;
use Vantle;

GetOptions('ratios' => \my $ratios) or die "usage: $0 [--ratios] [iterations]\n";
my $N = shift // 300_000;

# One RATIO line: case, baseline, and the two times in ns.
sub ratio_line {
    my ($case, $baseline, $baseline_ns, $measured_ns) = @_;
    printf "RATIO\tperl_send.pl\t%s\t%s\t%.1f\t%.1f\t%.3f\n", $case, $baseline,
	$baseline_ns, $measured_ns, $measured_ns / $baseline_ns;
}

package Plain { sub new { bless {}, shift } sub f { 1 } }
package ConstantHash { sub TIEHASH { bless {}, shift } sub FETCH { 1 } }
package HashHolder {
    use overload '%{}' => sub { $_[0][0] }, fallback => 1;
    sub new { bless [$_[1]], $_[0] }
}

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
    # A fresh object per call: each result is a new object that becomes a
    # handle, so the validity check sees it for the first time.
    [ 'NSMutableArray->array (fresh)', best_of(sub {
	my $pool = NSAutoreleasePool->new;
	NSMutableArray->array for 1 .. $N;
	$pool->release;
    }) ],
    # A fresh Perl object per call, for comparison.
    [ 'Plain->new (Perl object)', best_of(sub { Plain->new for 1 .. $N }) ],
    # Objects that were made long before they reach Perl: the validity
    # check no longer finds them in its cache of fresh objects.
    [ 'Vantle::pl of old objects (each)', do {
	my $old = NSMutableArray->array;
	$old->addObject_(NSObject->new->autorelease) for 1 .. 4096;
	NSMutableArray->array for 1 .. 4096;	# push them out of the cache
	best_of(sub {
	    my $pool = NSAutoreleasePool->new;
	    Vantle::pl($old) for 1 .. $N / 4096;
	    $pool->release;
	}) } ],
    # A dictionary read through its tied view: the hash dereference
    # hook, the tie method, the key made an NSString and the value a
    # handle.
    [ '$d->{k} (view read)', do {
	my $view_dict = NSMutableDictionary->dictionary;
	$view_dict->setObject_forKey_(NSString->stringWithCString_('v'), 'k');
	my $value;
	best_of(sub {
	    my $pool = NSAutoreleasePool->new;
	    $value = $view_dict->{k} for 1 .. $N;
	    $pool->release;
	}) } ],
    # What Perl itself charges for the same read through a tied hash
    # reached by a %{} overload, with a FETCH that does nothing: the
    # floor under the view read above.
    [ 'Perl tied hash read (floor)', do {
	tie my %tied, 'ConstantHash';
	my $holder = HashHolder->new(\%tied);
	my $value;
	best_of(sub { $value = $holder->{k} for 1 .. $N }) } ],
    # A format method: the format is read and its value passed as C
    # passes a variadic argument.
    [ 'NSString->stringWithFormat_', best_of(sub {
	my $pool = NSAutoreleasePool->new;
	NSString->stringWithFormat_("n=%d", $_) for 1 .. $N;
	$pool->release;
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

if ($ratios) {
    ratio_line($_->[0], 'Perl method call', $perl, $_->[1]) for @rows;
    ratio_line('length via FFI::Platypus', '$str->length', $rows[0][1], $rows[3][1]);
    ratio_line('perl -MVantle -e 1', 'perl -e 1', $bare * 1e6, $with * 1e6);
}
