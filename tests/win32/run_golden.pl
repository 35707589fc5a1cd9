#!/usr/bin/perl
# Runs every golden scenario of tests/golden/ through zev-sim.exe under Wine
# and compares standard output and the log file byte for byte, the exit
# status (its low 8 bits, as a POSIX process status keeps them) and the
# report subset, as the in-process harness tests/e2e/scenario_test.cpp does
# on the host.
#
#   perl run_golden.pl PATH/zev-sim.exe SOURCE_DIR
#
# Expects Wine to be set up (tests/win32/wine_env.sh). Exits 1 when any
# scenario differs, 2 when there is no scenario to run.
use strict;
use warnings;
use File::Basename qw(dirname);
use File::Temp qw(tempdir);
use JSON::PP;
use lib dirname(__FILE__);
use GoldenCompare qw(slurp windowsPath subsetMismatch runTo outputProblems);

my ($sim, $source) = @ARGV;
die "usage: $0 zev-sim.exe SOURCE_DIR\n" unless defined $source;

my $clock = '2027-02-01T09:05:03';
my $argv0 = 'C:\\pkg\\ZEV_TQ270c_V1.0.2_KTW8LMZB.exe';

my $golden = "$source/tests/golden";
opendir(my $dh, $golden) or die "$golden: $!\n";
my @scenarios = sort grep { -f "$golden/$_/scenario.json" } readdir $dh;
closedir $dh;
unless (@scenarios) {
  print "no scenario under $golden\n";
  exit 2;
}

my $failures = 0;
for my $name (@scenarios) {
  my $dir = "$golden/$name";
  my $scenario = decode_json(slurp("$dir/scenario.json"));
  my $work = tempdir("zev-golden-$name.XXXXXX", TMPDIR => 1, CLEANUP => 1);
  my $log = windowsPath("$work/install.log");
  my @command = ('wine', $sim, '--clock', $clock, '--argv0', $argv0, '--report',
                 windowsPath("$work/report.json"));
  push @command, '--machine', windowsPath("$source/$scenario->{machine}")
      if exists $scenario->{machine};
  push @command, '--', map { s/\{log\}/$log/gr } @{ $scenario->{args} // [] };

  my $wait = runTo("$work/stdout", "$work/stderr", @command);
  my @problems = outputProblems($scenario, $wait, $dir, $work, $log);

  if (-f "$dir/report.json") {
    my $report = slurp("$work/report.json");
    if (!defined $report) {
      push @problems, 'no report';
    } else {
      my $m = subsetMismatch(decode_json(slurp("$dir/report.json")), decode_json($report),
                             'report');
      push @problems, $m if defined $m;
    }
  }

  if (@problems) {
    $failures++;
    print "FAIL $name\n", map { "  $_\n" } @problems;
    my $stderr = slurp("$work/stderr") // '';
    print "  zev-sim's standard error:\n", map { "    $_\n" } split /\n/, $stderr if length $stderr;
  } else {
    print "ok   $name\n";
  }
}

printf "%d of %d scenarios match under Wine\n", @scenarios - $failures, scalar @scenarios;
exit($failures ? 1 : 0);
