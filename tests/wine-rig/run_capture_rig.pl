#!/usr/bin/perl
# The capture (/capture=) of the shipped executable through the Wine rig
# (scripts/wine_rig.sh), for every machine of examples/machines/ (every
# golden scenario's machine among them): the file it writes is the file
# zev-sim.exe writes for the same machine and arguments, but for what Wine 8
# cannot show the executable (tools/wine-rig/README.md), and only that:
# - computerName: the rig's is Wine's own;
# - moduleHandleFails: GetModuleHandleW(NULL) does not fail under Wine;
# - a refused open: Wine still gives a handle, and the next request on it
#   fails with ERROR_INVALID_HANDLE (6) instead: on an inbox disk the device
#   number after the enumeration's open, the Identify after the second; a
#   pass-through disk's open only proves that it opens, so it is not a
#   failure under Wine;
# - a pass-through disk's location text is read through its DevInst in a
#   second device set, and Wine gives the device another DevInst there: the
#   location reads as absent (null). On IRST, whose bus number comes from
#   that text, the bus number is then not known, and the Identify the
#   executable sends the controller for the disk addresses no drive
#   (ERROR_IO_DEVICE, 1117): the drive is the placeholder of that failure.
#   (VROC's bus numbers come from its member list and are compared.)
# - instance ids and interface paths the rig renames (ZEVRIG\<i>_<enumerator>_
#   <device id>\<instance>) when a machine's ids do not sort in its order:
#   mapped back to the machine's.
# The two files are compared as JSON (keys sorted) after exactly these
# changes; a difference prints the first line that differs. Then zev-sim.exe
# runs the same check on the rig's capture: the same exit status, standard
# output, log and results file as the executable's in the rig (its computer
# name now the machine's), and the same capture again.
#
#   perl run_capture_rig.pl PATH/zev-sim.exe SOURCE_DIR
#
# Expects Wine to be set up for zev-sim.exe (tests/win32/wine_env.sh); the
# rig makes its own prefixes. Exits 1 when any machine differs, 2 when there
# is none.
use strict;
use warnings;
use File::Basename qw(dirname);
use File::Temp qw(tempdir);
use JSON::PP;
use Time::HiRes qw(time);
use lib dirname(__FILE__) . '/../win32';
use GoldenCompare qw(slurp windowsPath firstDifference runTo);

my ($sim, $source) = @ARGV;
die "usage: $0 zev-sim.exe SOURCE_DIR\n" unless defined $source;

my $clock = '2027-02-01T09:05:03';
my $argv0 = 'C:\\pkg\\ZEV_TQ270c_V1.0.2_KTW8LMZB.exe';
my $json = JSON::PP->new->canonical->pretty;

my %machines;
opendir(my $dh, "$source/examples/machines") or die "$source/examples/machines: $!\n";
$machines{"examples/machines/$_"} = 1 for grep { /\.json$/ } readdir $dh;
closedir $dh;
my $golden = "$source/tests/golden";
opendir($dh, $golden) or die "$golden: $!\n";
for my $name (grep { -f "$golden/$_/scenario.json" } readdir $dh) {
  my $scenario = decode_json(slurp("$golden/$name/scenario.json"));
  $machines{ $scenario->{machine} // 'examples/machines/demo.json' } = 1;
}
closedir $dh;
my @machines = sort keys %machines;
unless (@machines) {
  print "no machine under $source/examples/machines\n";
  exit 2;
}

# The rig's names back to the machine's: ZEVRIG\0003_SCSI_DISK&VEN_X\5&1&0
# is SCSI\DISK&VEN_X\5&1&0, and its interface path \\?\zevrig#0003_scsi_...
# is \\?\scsi#...
sub unrename {
  my ($value) = @_;
  if (ref $value eq 'HASH') {
    $value->{$_} = unrename($value->{$_}) for keys %$value;
  } elsif (ref $value eq 'ARRAY') {
    $_ = unrename($_) for @$value;
  } elsif (defined $value && !ref $value) {
    $value =~ s/\bZEVRIG\\\d{4}_([^_\\]+)_/$1\\/gi;
    $value =~ s/\bzevrig#\d{4}_([^_#]+)_/$1#/g;
  }
  return $value;
}

# The Intel controller's pass-through entries, all or those of one driver.
sub passThrough {
  my ($capture, $driver) = @_;
  my $controller = $capture->{intelController};
  return () unless ref $controller eq 'HASH';
  return () if defined $driver && ($controller->{driver} // '') ne $driver;
  return @{ $controller->{passThrough} // [] };
}

# The rig's capture with the names the rig gave mapped back; computerName
# and the IRST pass-through disks' bus numbers left out.
sub rigSide {
  my ($capture) = @_;
  unrename($capture);
  delete $capture->{computerName};
  delete $_->{busNumber} for passThrough($capture, 'irst');
  return $capture;
}

# What the package sends an inbox disk of one attachment after its opens: the
# device number after the enumeration's (its first), the Identify after the
# second.
my %nextOnOpen = (1 => 'deviceNumber', 2 => 'identify');

# zev-sim's capture as Wine lets the executable see the machine.
sub simSide {
  my ($capture) = @_;
  delete @$capture{qw(computerName moduleHandleFails)};
  my %drives = map { $_->{id} => $_ } @{ $capture->{drives} };
  for my $entry (passThrough($capture)) {
    $entry->{locationInfo} = undef;
  }
  for my $entry (passThrough($capture, 'irst')) {
    delete $entry->{busNumber};
    my $drive = $drives{ $entry->{drive} };
    %$drive = (id => $drive->{id},
               faults => [{ request => 'identify', nth => 1, error => 1117 }]);
  }
  my %inbox;
  $inbox{ $_->{drive} }++ for @{ $capture->{inbox} // [] };
  for my $id (grep { $inbox{$_} == 1 } keys %inbox) {
    for my $fault (@{ $drives{$id}{faults} // [] }) {
      next unless $fault->{request} eq 'open' && exists $nextOnOpen{ $fault->{nth} // 0 };
      @$fault{qw(request nth error)} = ($nextOnOpen{ $fault->{nth} }, 1, 6);
    }
  }
  return $capture;
}

sub parsed {
  my ($text) = @_;
  return defined $text && length $text ? eval { decode_json($text) } : undef;
}

# The files a run writes, kept under the run's name: the capture, the log and
# the results file.
my %written = (capture => 'capture.json', log => 'run.log', results => 'run.json');

# Machines whose capture the rig cannot show at all, with the reason.
my $refusedOpen = 'an open the driver refuses still returns a handle under Wine 8, so the '
    . 'slot read that should fail at its open fails at its next request instead, and the '
    . 'opens before it are not the same in number (the IRST pass-through Identify of the '
    . 'DevInst gap): the fault cannot be placed';
my %notShown = (irst_slot_read_port_closed => $refusedOpen,
                vroc_slot_read_port_closed => $refusedOpen);

my ($failures, $rigSeconds, $simSeconds, $simRuns) = (0, 0, 0, 0);
for my $machine (@machines) {
  my $name = $machine =~ s{.*/|\.json$}{}gr;
  if (my $reason = $notShown{$name}) {
    print "not shown by the rig: $name: $reason\n";
    next;
  }
  my $work = tempdir("zev-rig-capture-$name.XXXXXX", TMPDIR => 1, CLEANUP => 1);
  my @args = ('/s', '/capture=' . windowsPath("$work/capture.json"),
              '/log=' . windowsPath("$work/run.log"), '/json=' . windowsPath("$work/run.json"));
  my @problems;
  # A run's exit status (its wait status), standard output and files.
  my $keep = sub {
    my ($run, $wait) = @_;
    my %kept = (status => $wait, output => slurp("$work/$run.out") // '',
                stderr => slurp("$work/$run.err") // '');
    for my $file (keys %written) {
      $kept{$file} = slurp("$work/$written{$file}") // '';
      unlink "$work/$written{$file}";
    }
    return \%kept;
  };

  # A set-up the rig could not finish (status 2, its line on standard error,
  # the executable not run) is run once more in a fresh prefix: under load,
  # Wine's service manager sometimes fails to start the driver (error 1722).
  my $rig;
  for my $attempt (1, 2) {
    my $start = time;
    $rig = $keep->('rig', runTo("$work/rig.out", "$work/rig.err", "$source/scripts/wine_rig.sh",
                                '--clock', $clock, '--machine', "$source/$machine", '--', @args));
    $rigSeconds += time - $start;
    last unless $rig->{status} >> 8 == 2
        && $rig->{stderr} =~ /^wine_rig\.sh: the machine could not be set up$/m;
    print "     $name: the rig's set-up failed, run again: $rig->{stderr}" if $attempt == 1;
  }
  open(my $fh, '>:raw', "$work/rig.json") or die "$work/rig.json: $!\n";
  print $fh $rig->{capture};
  close $fh;

  my $simRun = sub {
    my ($run, $machineFile) = @_;
    my $begin = time;
    my $wait = runTo("$work/$run.out", "$work/$run.err", 'wine', $sim, '--clock', $clock,
                     '--argv0', $argv0, '--machine', windowsPath($machineFile), '--', @args);
    $simSeconds += time - $begin;
    $simRuns++;
    return $keep->($run, $wait);
  };
  my $simulated = $simRun->('sim', "$source/$machine");

  my $rigCapture = parsed($rig->{capture});
  my $simCapture = parsed($simulated->{capture});
  push @problems, "no capture from the rig: $rig->{stderr}" unless $rigCapture;
  push @problems, "no capture from zev-sim.exe: $simulated->{stderr}" unless $simCapture;
  if ($rigCapture && $simCapture) {
    my ($expected, $actual) = ($json->encode(simSide($simCapture)),
                               $json->encode(rigSide($rigCapture)));
    push @problems, "the rig's capture differs from zev-sim.exe's (normalised) at "
        . firstDifference($expected, $actual)
        unless $expected eq $actual;

    my $replay = $simRun->('replay', "$work/rig.json");
    my %label = (status => 'exit status', output => 'standard output', log => 'log',
                 results => 'results file', capture => 'capture');
    for my $what (qw(status output log results capture)) {
      next if $replay->{$what} eq $rig->{$what};
      push @problems,
          "zev-sim.exe's check on the rig's capture: its $label{$what} differs from the rig's"
          . ($what eq 'status' ? ": $replay->{status}, the rig's $rig->{status}"
                               : ' at ' . firstDifference($rig->{$what}, $replay->{$what}));
    }
  }

  if (@problems) {
    $failures++;
    print "FAIL $name\n", map { "  $_\n" } @problems;
  } else {
    print "ok   $name\n";
  }
}

my $shown = grep { !$notShown{ s{.*/|\.json$}{}gr } } @machines;
printf "%d of %d machines capture through the Wine rig as in zev-sim.exe (%d not shown); "
    . "rig %.1f s (%.1f s a run), zev-sim.exe %.1f s (%d runs)\n",
    $shown - $failures, $shown, @machines - $shown, $rigSeconds, $rigSeconds / ($shown || 1),
    $simSeconds, $simRuns;
exit($failures ? 1 : 0);
