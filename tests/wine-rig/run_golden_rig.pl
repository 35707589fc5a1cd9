#!/usr/bin/perl
# Runs the golden scenarios of tests/golden/ through the Wine rig
# (scripts/wine_rig.sh): the shipped executable, unmodified, on the emulated
# machine under Wine, compared with the same golden files as zev-sim's runs:
# standard output and the log byte for byte, the exit status (its low 8 bits)
# and the report subset.
#
#   perl run_golden_rig.pl SOURCE_DIR
#
# What the rig cannot fill is left out of the comparison, and only that:
# - the report's messageBoxes, events and handlesLeftOpen: the rig's report
#   must give them as null and name them under rig.notFilled (checked);
# - the scenarios of %notShown below are listed with the reason and not run.
# The clock is frozen with --clock (libfaketime), so the log's time stamps
# are compared as they are. Exits 1 when any scenario differs, 2 when none ran.
use strict;
use warnings;
use File::Basename qw(dirname);
use File::Temp qw(tempdir);
use JSON::PP;
use Time::HiRes qw(time);
use lib dirname(__FILE__) . '/../win32';
use GoldenCompare qw(slurp windowsPath subsetMismatch runTo outputProblems);

my ($source) = @ARGV;
die "usage: $0 SOURCE_DIR\n" unless defined $source;

my $clock = '2027-02-01T09:05:03';

# Scenarios whose outcome depends on what Wine cannot give the executable.
my %notShown = (
  irst_pass_through_bus3 =>
      'the bus number of a pass-through disk is found by matching its DevInst in a second '
      . 'device set; Wine 8 gives the same device a different DevInst in each set, so the '
      . 'lookup finds nothing (the DevInst gap)',
  inbox_second_disk_unopenable =>
      'an open the driver refuses still returns a handle under Wine 8: zevrig.sys completes '
      . 'IRP_MJ_CREATE with STATUS_ACCESS_DENIED, yet CreateFileW succeeds and only the next '
      . 'request fails (ERROR_INVALID_HANDLE), so a failing open cannot be shown',
  module_handle_fails =>
      'GetModuleHandleW(NULL) cannot be made to fail under Wine without changing the executable',
);

my $golden = "$source/tests/golden";
opendir(my $dh, $golden) or die "$golden: $!\n";
my @scenarios = sort grep { -f "$golden/$_/scenario.json" } readdir $dh;
closedir $dh;

my ($failures, $ran, $slowest, $total) = (0, 0, 0, 0);
for my $name (@scenarios) {
  if (exists $notShown{$name}) {
    print "not shown by the rig: $name: $notShown{$name}\n";
    next;
  }
  my $dir = "$golden/$name";
  my $scenario = decode_json(slurp("$dir/scenario.json"));
  my $work = tempdir("zev-rig-$name.XXXXXX", TMPDIR => 1, CLEANUP => 1);
  my $log = windowsPath("$work/install.log");
  my @command = ("$source/scripts/wine_rig.sh", '--clock', $clock, '--report', "$work/report.json");
  push @command, '--machine', "$source/$scenario->{machine}" if exists $scenario->{machine};
  push @command, '--', map { s/\{log\}/$log/gr } @{ $scenario->{args} // [] };

  # A set-up the rig could not finish (status 2, its line on standard error,
  # the executable not run) is run once more in a fresh prefix: under load,
  # Wine's service manager sometimes fails to start the driver (error 1722).
  my ($start, $wait);
  for my $attempt (1, 2) {
    $start = time;
    $wait = runTo("$work/stdout", "$work/stderr", @command);
    last unless $wait >> 8 == 2
        && (slurp("$work/stderr") // '') =~ /^wine_rig\.sh: the machine could not be set up$/m;
    print "     $name: the rig's set-up failed, run again: ", slurp("$work/stderr") if $attempt == 1;
  }
  my $seconds = time - $start;
  $total += $seconds;
  $slowest = $seconds if $seconds > $slowest;
  $ran++;

  my @problems = outputProblems($scenario, $wait, $dir, $work, $log);

  my $reportText = slurp("$work/report.json");
  if (!defined $reportText || $reportText eq '') {
    push @problems, 'no report';
  } else {
    my $report = decode_json($reportText);
    my $m = subsetMismatch({ exitStatus => $scenario->{exitStatus},
                             rig => { notFilled => ['messageBoxes', 'events', 'handlesLeftOpen'] } },
                           $report, 'report');
    push @problems, $m if defined $m;
    for my $key ('messageBoxes', 'events', 'handlesLeftOpen') {
      push @problems, "report.$key is filled, yet the rig cannot know it"
          unless exists $report->{$key} && !defined $report->{$key};
    }
    if (-f "$dir/report.json") {
      my $expected = decode_json(slurp("$dir/report.json"));
      delete @$expected{'messageBoxes', 'events', 'handlesLeftOpen'};
      $m = subsetMismatch($expected, $report, 'report');
      push @problems, $m if defined $m;
    }
  }

  if (@problems) {
    $failures++;
    print "FAIL $name\n", map { "  $_\n" } @problems;
    my $stderr = slurp("$work/stderr") // '';
    print "  the rig's standard error:\n", map { "    $_\n" } split /\n/, $stderr if length $stderr;
  } else {
    printf "ok   %s (%.1f s)\n", $name, $seconds;
  }
}

unless ($ran) {
  print "no scenario ran under $golden\n";
  exit 2;
}
printf "%d of %d scenarios match through the Wine rig (%d not shown); %.1f s in all, slowest %.1f s\n",
    $ran - $failures, $ran, scalar(keys %notShown), $total, $slowest;
exit($failures ? 1 : 0);
