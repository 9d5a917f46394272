# Installs a build as a user would and uses what was installed: with
# DESTDIR into Perl's own directories, where perl loads the module and
# perldoc finds its manual; and into a prefix of the user's, against
# which host programs are built with pkg-config and with find_package,
# each making an interpreter that must find Vantle.pm from the installed
# library alone.  Everything happens in a temporary directory that goes
# away at the end.
#
# perl install.t BUILD_DIR CMAKE COMPILER PKG_CONFIG vendor|site
use strict;
use warnings;
use Test::More;
use Config;
use Cwd qw(abs_path);
use File::Basename qw(dirname);
use File::Find ();
use File::Temp qw(tempdir);
use POSIX ();

my ($build, $cmake, $compiler, $pkgConfig, $kind) = @ARGV;
defined $kind && $kind =~ /\A(?:vendor|site)\z/
    or die "usage: perl install.t BUILD_DIR CMAKE COMPILER PKG_CONFIG vendor|site\n";
my $here = abs_path(dirname(__FILE__));
my $top = abs_path("$here/../..");
my $tmp = tempdir('vantle-install-XXXXXX', TMPDIR => 1, CLEANUP => 1);
# Readable by all, as installed files are: perldoc run by root reads them
# as nobody.
chmod 0755, $tmp or die "cannot chmod $tmp: $!";

# Nothing from the caller's environment may point the programs run here
# at other modules, packages or prefixes.
delete @ENV{qw(PERL5LIB PERLLIB PERL5OPT PERL_MB_OPT PERL_MM_OPT DESTDIR LD_LIBRARY_PATH
               PKG_CONFIG_PATH PKG_CONFIG_LIBDIR PKG_CONFIG_SYSROOT_DIR CMAKE_PREFIX_PATH)};

# Perl's prefix and directories of the kind the build installs into.
my %config = map { $_ => $Config{"$kind$_"} } qw(prefixexp);
$config{$_} = $Config{"install$kind$_"} for qw(lib arch man3dir);
my $perlPrefix = $config{prefixexp};

# run(\%env, command...) -- runs a command with more environment, and
# answers its exit status and what it wrote on both outputs.
sub run {
    my ($env, @command) = @_;
    local %ENV = (%ENV, %$env);
    my $pid = open(my $from, '-|') // die "cannot fork: $!";
    if ($pid == 0) {
        open(STDERR, '>&', \*STDOUT);
        { exec { $command[0] } @command }
        print "cannot run $command[0]: $!\n";
        POSIX::_exit(127);
    }
    my $output = do { local $/; <$from> } // '';
    close $from;
    return ($?, $output);
}

# ran_ok(\%env, name, command...) -- a test that the command succeeds;
# answers its output.
sub ran_ok {
    my ($env, $name, @command) = @_;
    my ($status, $output) = run($env, @command);
    is($status, 0, $name) or diag("@command\n$output");
    return $output;
}

# files_under(dir) -- every file below dir, relative to it.
sub files_under {
    my ($dir) = @_;
    my @files;
    File::Find::find({ no_chdir => 1, wanted => sub {
        push @files, substr($_, length($dir) + 1) if -f $_ || -l $_;
    } }, $dir);
    return sort @files;
}

# The Perl modules of the source tree, as paths relative to lib/.
my @modules = grep { /\.pm\z/ } files_under("$top/lib");
ok(scalar(grep { $_ eq 'Vantle.pm' } @modules), 'the modules are found under lib/');

# perl_loads_ok(lib, arch, name) -- perl with the installed directories on
# @INC, and nothing of the build, loads the module from there (the .pm and
# the shared object), sends a message, and loads every other module.
sub perl_loads_ok {
    my ($lib, $arch, $name) = @_;
    my $output = ran_ok({}, "$name: perl -MVantle sends a message", $^X, "-I$lib", "-I$arch",
        '-MVantle', '-e', 'print NSString->stringWithCString_("abc")->length, "\n",
            $INC{"Vantle.pm"}, "\n", grep(/Vantle\.so\z/, @DynaLoader::dl_shared_objects), "\n"');
    is($output, "3\n$lib/Vantle.pm\n$arch/auto/Vantle/Vantle.so\n",
        "$name: the module and its shared object come from the installed tree");
    for my $pm (grep { $_ ne 'Vantle.pm' } @modules) {
        (my $package = $pm) =~ s{\.pm\z}{};
        $package =~ s{/}{::}g;
        ran_ok({}, "$name: $package loads", $^X, "-I$lib", "-I$arch", "-M$package", '-e', '1');
    }
}

# host_runs_ok(program, lib, name) -- a host program runs and its
# interpreter found Vantle.pm in lib.
sub host_runs_ok {
    my ($program, $lib, $name) = @_;
    my $output = ran_ok({}, "$name: the host program runs", $program);
    is($output, "2 + 3: 5\nVantle.pm: $lib/Vantle.pm\nlength: 3\n",
        "$name: its interpreter evaluates Perl with the installed module");
}

subtest 'installed with DESTDIR into the directories perl names' => sub {
    my $dest = "$tmp/dest";
    ran_ok({ DESTDIR => $dest }, 'cmake --install with DESTDIR',
        $cmake, '--install', $build, '--prefix', $perlPrefix);
    my $lib = "$dest$config{lib}";
    my $arch = "$dest$config{arch}";

    for my $pm (@modules) {
        ok(-f "$lib/$pm" && -s _ == -s "$top/lib/$pm", "$pm is in Perl's $kind lib directory");
    }
    ok(-f "$arch/auto/Vantle/Vantle.so", "Vantle.so is in Perl's $kind arch directory, under auto/");
    ok(-f "$dest$config{man3dir}/Vantle.$Config{man3ext}", 'the manual page is installed');
    ok(-f "$dest$perlPrefix/include/vantle/$_", "$_ is installed") for qw(BqVantleInterp.h BqVantleVar.h);
    ok(-f "$dest$perlPrefix/lib/pkgconfig/vantle.pc", 'vantle.pc is installed');
    ok(-f "$dest$perlPrefix/lib/cmake/Vantle/$_", "$_ is installed")
        for qw(VantleConfig.cmake VantleConfigVersion.cmake);

    # Nothing of the tests, nor private headers, is installed.
    my %testFiles = map { (split m{/}, $_)[-1] => 1 } grep { !/CMakeLists\.txt\z/ } files_under("$top/tests");
    my @installed = files_under($dest);
    is_deeply([grep { /TestSupport/ || $testFiles{(split m{/}, $_)[-1]} } @installed], [],
        'nothing of tests/ is installed');
    is_deeply([grep { /Priv\.h\z/ } @installed], [], 'no private header is installed');

    perl_loads_ok($lib, $arch, 'DESTDIR');

    my $found = ran_ok({ PERL5LIB => "$lib:$arch" }, 'perldoc -l finds Vantle', 'perldoc', '-l', 'Vantle');
    is($found, "$lib/Vantle.pm\n", 'perldoc finds the installed file');
    my $text = ran_ok({ PERL5LIB => "$lib:$arch" }, 'perldoc renders Vantle::TypedStream',
        'perldoc', '-T', '-otext', 'Vantle::TypedStream');
    like($text, qr/^NAME\s+Vantle::TypedStream\b/m, 'the manual is the module\'s');
};

# A prefix of the user's: Perl's prefix in Perl's paths is replaced by it.
my $prefix = "$tmp/prefix";
my $lib = $prefix . substr($config{lib}, length $perlPrefix);
my $arch = $prefix . substr($config{arch}, length $perlPrefix);

subtest 'installed into a prefix of the user\'s' => sub {
    ran_ok({}, 'cmake --install --prefix', $cmake, '--install', $build, '--prefix', $prefix);
    ok(-f "$lib/Vantle.pm", "Vantle.pm is where Perl's prefix is replaced by ours");
    ok(-f "$arch/auto/Vantle/Vantle.so", 'Vantle.so likewise');
    perl_loads_ok($lib, $arch, 'prefix');
};

subtest 'a host program built with pkg-config' => sub {
    my %env = (PKG_CONFIG_PATH => "$prefix/lib/pkgconfig");
    my $cflags = ran_ok(\%env, 'pkg-config --cflags', $pkgConfig, '--cflags', 'vantle');
    my $libs = ran_ok(\%env, 'pkg-config --libs', $pkgConfig, '--libs', 'vantle');
    like($libs, qr/\Q$arch\E\/auto\/Vantle/, 'the library is the one in the arch directory');
    my $program = "$tmp/host-pkg-config";
    ran_ok({}, 'the host compiles and links', $compiler, split(' ', $cflags), "$here/host.mm",
        '-o', $program, split(' ', $libs));
    host_runs_ok($program, $lib, 'pkg-config');
};

subtest 'a host program built with find_package(Vantle)' => sub {
    my $binary = "$tmp/host-cmake";
    ran_ok({}, 'its project configures', $cmake, '-S', $here, '-B', $binary,
        "-DCMAKE_PREFIX_PATH=$prefix", "-DCMAKE_CXX_COMPILER=$compiler",
        "-DCMAKE_OBJCXX_COMPILER=$compiler", '-DCMAKE_BUILD_TYPE=Release');
    ran_ok({}, 'it builds', $cmake, '--build', $binary);
    host_runs_ok("$binary/host", $lib, 'find_package');
};

done_testing();
