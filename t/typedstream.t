# Typed streams from Perl: values of every type and object graphs written
# and read back, the subs' checks, and damaged files fed to the reader.
use strict;
use warnings;
use Test::More;
use File::Temp qw(tempdir);

use Vantle;
use FindBin;
use lib "$FindBin::Bin/lib";
use ErrorCapture qw(message);
use Vantle::TypedStream;


my $dir = tempdir(CLEANUP => 1);
my $T = 'Vantle::TypedStream';

sub open_stream { no strict 'refs'; &{"${T}::KxOpenTypedStreamForFile"}(@_) }
sub call { my $name = shift; no strict 'refs'; &{"${T}::$name"}(@_) }

my @values = (
    ['c', -5], ['C', 200], ['s', -300], ['S', 60000], ['i', 42], ['I', 4000000000],
    ['l', -(1 << 40)], ['L', 1 << 41], ['q', -(1 << 50)], ['Q', 1 << 52],
    ['f', 1.5], ['d', 2.25], ['*', 'abc'], ['*', ''], ['*', undef],
    ['[3i]', [1, 2, 3]], ['{pair=id}', { _0 => 7, _1 => 0.5 }],
    ['{named="n"i"s"*}', { n => 3, s => 'inside' }], [':', 'count'], ['#', 'NSString'],
);

subtest 'values of every type come back' => sub {
    my $file = "$dir/values.ts";
    my $ts = open_stream($file, 'w');
    is(Vantle::Ptr::type($ts), '^v', 'a stream is a typed pointer');
    call('KxWriteType', $ts, @$_) for @values;
    is(call('KxCloseTypedStream', $ts), $ts, 'closing answers the stream');
    is(Vantle::Ptr::value($ts), 0, 'now null');

    $ts = open_stream($file, 'KX_READONLY');
    for my $case (@values) {
        my ($type, $value) = @$case;
        my $read = call('KxReadType', $ts, $type);
        if (ref($value) eq 'HASH') {
            is_deeply({ map { $_ => $read->{$_} } keys %$value }, $value, "type $type");
        } elsif ($type eq '#') {
            ok($read == Vantle::class($value), "type $type");
        } else {
            is_deeply($read, $value, 'type ' . $type . ' ' . ($value // 'undef'));
        }
    }
    ok(call('KxEndOfTypedStream', $ts), 'then the end');
    ok(!eval { call('KxReadType', $ts, 'i'); 1 }, 'reading beyond it');
    like(message($@), qr/^${T}::KxReadType: exception TYPEDSTREAM_FILE_INCONSISTENCY/, 'croaks');
    call('KxCloseTypedStream', $ts);
};

subtest 'object graphs keep shared and cyclic references' => sub {
    my $file = "$dir/graph.ts";
    my $shared = Vantle::obj({ name => 'shared' });
    my $graph = Vantle::obj([$shared, $shared, 'text']);
    $graph->addObject_($graph);
    my $ts = open_stream($file, 'w');
    call('KxWriteRootObject', $ts, $graph);
    call('KxWriteObject', $ts, $shared);
    call('KxWriteObject', $ts, undef);
    ok(call('KxSystemVersion', $ts) > 0, 'a system version');
    call('KxCloseTypedStream', $ts);

    $ts = open_stream($file, 'r');
    my $copy = call('KxReadObject', $ts);
    ok($copy != $graph, 'a new object');
    is($copy->count, 4, 'with every element');
    ok($copy->[0] == $copy->[1], 'the shared element once');
    ok($copy->[3] == $copy, 'the cycle closed');
    is($copy->[0]->{name}, 'shared', 'contents kept');
    ok(call('KxReadObject', $ts) == $copy->[0], 'a later write of an object written before');
    ok(Vantle::nil(call('KxReadObject', $ts)), 'nil');
    call('KxCloseTypedStream', $ts);
};

subtest 'object references only inside a root object' => sub {
    my $ts = open_stream("$dir/ref.ts", 'w');
    ok(!eval { call('KxWriteObjectReference', $ts, Vantle::obj([1])); 1 }, 'outside');
    like(message($@), qr/^${T}::KxWriteObjectReference: exception TYPEDSTREAM_WRITE_REFERENCE_ERROR/,
        'croaks');
    call('KxCloseTypedStream', $ts);
};

subtest 'checks of the subs' => sub {
    my $file = "$dir/checks.ts";
    ok(!eval { open_stream($file, 'x'); 1 }, 'an unknown mode');
    is(message($@), 'illegal mode', 'croaks');
    ok(!eval { open_stream("$dir/no/such/dir/f.ts", 'w'); 1 }, 'a file that cannot be made');
    is(message($@), "cannot open file $dir/no/such/dir/f.ts for writing", 'croaks');
    ok(!eval { open_stream("$dir/missing.ts", 'r'); 1 }, 'a missing file');
    is(message($@), "cannot open file $dir/missing.ts for reading", 'croaks');

    my $ts = open_stream($file, 'w');
    my $copy = $ts;
    ok(!eval { call('KxWriteType', $ts, '^i', Vantle::Ptr::new('int *')); 1 }, 'an unsupported type');
    like(message($@), qr/^${T}::KxWriteType: exception TYPEDSTREAM_TYPE_DESCRIPTOR_ERROR/, 'croaks');
    ok(!eval { call('KxWriteType', $ts, '{s=i}', 5); 1 }, 'a value that does not convert');
    is(message($@), "${T}::KxWriteType: perl type is not a hash reference", 'croaks');
    # The member after the string fails; the string's copy is freed (the
    # valgrind and sanitizer runs see it).
    ok(!eval { call('KxWriteType', $ts, '{two=*@}', { _0 => 'copied', _1 => sub {} }); 1 },
	'a structure whose second member does not convert');
    like(message($@), qr/^${T}::KxWriteType: /, 'croaks');
    ok(!eval { call('KxWriteObject', $ts, []); 1 }, 'no object');
    is(message($@), "${T}::KxWriteObject: not an object", 'croaks');

    my $zone = call('KxGetTypedStreamZone', $ts);
    call('KxSetTypedStreamZone', $ts, $zone);
    call('KxSetTypedStreamZone', $ts, undef);
    ok(!eval { call('KxSetTypedStreamZone', $ts, Vantle::Ptr::new('void *', 4096)); 1 },
        'a made-up zone');
    is(message($@), "${T}::KxSetTypedStreamZone: illegal zone", 'croaks');

    for my $bad ([Vantle::Ptr::new('void *', 4096), 'illegal typed stream'],
                 [Vantle::Ptr::new('int *', 8192), 'illegal typed stream'],
                 ['text', 'invalid typed stream: not a valid pointer']) {
        ok(!eval { call('KxFlushTypedStream', $bad->[0]); 1 }, "no stream: $bad->[1]");
        is(message($@), "${T}::KxFlushTypedStream: $bad->[1]", 'croaks');
    }
    call('KxCloseTypedStream', $ts);
    ok(!eval { call('KxFlushTypedStream', $copy); 1 }, 'every copy of a closed stream');
    is(message($@), 'NULL stream', 'croaks');
    ok(!eval { call('KxReadType', undef, 'i'); 1 }, 'a null stream');
    is(message($@), 'NULL stream', 'croaks');

    my @usage = (
        ['KxOpenTypedStreamForFile', '(filename,mode)', 1], ['KxCloseTypedStream', '(ts)', 0],
        ['KxEndOfTypedStream', '(ts)', 0], ['KxTypedStreamClassVersion', '(ts,classname)', 1],
        ['KxWriteType', '(ts,type,val)', 1], ['KxReadType', '(ts,type)', 0],
        ['KxWriteRootObject', '(ts,obj)', 0], ['KxSetTypedStreamZone', '(ts,z)', 0],
    );
    for my $case (@usage) {
        my ($sub, $form) = @$case;
        ok(!eval { call($sub, 1, 2, 3, 4); 1 }, "$sub with four arguments");
        is(message($@), "Usage: ${T}::$sub$form", 'usage message');
    }
};

# Damaged copies of a good file: every one either reads correctly or
# croaks with a typed-stream error; none may crash the reader.
subtest 'damaged and foreign files' => sub {
    my $good = "$dir/good.ts";
    my $ts = open_stream($good, 'w');
    call('KxWriteType', $ts, 'i', 7);
    call('KxWriteType', $ts, '*', 'some text');
    call('KxWriteRootObject', $ts, Vantle::obj({ list => [1, 2, 3], name => 'x' }));
    call('KxCloseTypedStream', $ts);
    open(my $in, '<:raw', $good) or die $!;
    my $bytes = do { local $/; <$in> };
    close $in;

    my @damaged;
    push @damaged, ["cut at $_", substr($bytes, 0, $_)] for grep { $_ % 7 == 0 || $_ < 30 } 0 .. length($bytes) - 1;
    for my $at (grep { $_ % 5 == 0 } 0 .. length($bytes) - 1) {
        my $flipped = $bytes;
        substr($flipped, $at, 1) = chr(ord(substr($flipped, $at, 1)) ^ 0x41);
        push @damaged, ["byte $at flipped", $flipped];
    }
    push @damaged, ['text', "just some text\n" x 10], ['zeros', "\0" x 200],
        ['magic only', substr($bytes, 0, 8)], ['extra bytes', $bytes . 'xyz'];

    my ($refused, $read) = (0, 0);
    for my $case (@damaged) {
        my ($name, $content) = @$case;
        my $file = "$dir/damaged.ts";
        open(my $out, '>:raw', $file) or die $!;
        print $out $content;
        close $out;
        my $ok = eval {
            my $r = open_stream($file, 'r');
            call('KxReadType', $r, 'i');
            call('KxReadType', $r, '*');
            call('KxReadObject', $r);
            call('KxCloseTypedStream', $r);
            1;
        };
        if ($ok) {
            $read++;
        } elsif ($@ =~ /exception TYPEDSTREAM_[A-Z_]+/) {
            $refused++;
        } else {
            fail("$name: $@");
        }
    }
    is($refused + $read, scalar(@damaged), 'every file read or refused with a typed-stream error');
    cmp_ok($refused, '>=', scalar(@damaged) - 1, 'damage is noticed');
};

done_testing();
