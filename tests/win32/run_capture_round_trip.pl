#!/usr/bin/perl
# The capture's round trip (/capture=) through zev-sim.exe under Wine, as
# tests/e2e/capture_round_trip_test.cpp does it in-process on the host: for
# every machine of examples/machines/ (every golden scenario's machine among
# them), a check on the machine file the check captured gives the same exit
# status, standard output, log, results file and capture as the check on the
# original; an update on the capture gives every drive the outcome the update
# on the original gave it (decision, result code, and the revisions run after
# the next reset), unless the machine holds a download or activation fault.
# The log, results and capture files are named the same in every run and the
# clock is frozen, so the texts compare whole; the machines where the round
# trip cannot hold are those of tests/e2e/capture_round_trip_exceptions.json,
# which the host test reads too, and there the runs must differ.
#
#   perl run_capture_round_trip.pl PATH/zev-sim.exe SOURCE_DIR
#
# Expects Wine to be set up (tests/win32/wine_env.sh). Exits 1 when any
# machine fails, 2 when there is no machine to run.
use strict;
use warnings;
use File::Basename qw(dirname);
use File::Temp qw(tempdir);
use JSON::PP;
use Time::HiRes qw(time);
use lib dirname(__FILE__);
use GoldenCompare qw(slurp windowsPath firstDifference runTo);

my ($sim, $source) = @ARGV;
die "usage: $0 zev-sim.exe SOURCE_DIR\n" unless defined $source;

my $json = JSON::PP->new->canonical;
my $exceptions = decode_json(slurp("$source/tests/e2e/capture_round_trip_exceptions.json"));

my $machines = "$source/examples/machines";
opendir(my $dh, $machines) or die "$machines: $!\n";
my @names = sort map { /^(.+)\.json$/ ? $1 : () } readdir $dh;
closedir $dh;
unless (@names) {
  print "no machine under $machines\n";
  exit 2;
}

my ($runs, $seconds) = (0, 0);

# zev-sim.exe on machine with options; the files of $work read back and
# removed before the next run.
sub runOn {
  my ($work, $machine, @options) = @_;
  unlink map { "$work/$_" } qw(run.log run.json capture.json report.json stdout stderr);
  my $start = time;
  my $wait = runTo("$work/stdout", "$work/stderr", 'wine', $sim, '--clock', '2027-02-01T09:05:03',
                   '--argv0', 'C:\\pkg\\zev.exe', '--report', windowsPath("$work/report.json"),
                   '--machine', windowsPath($machine), '--', @options);
  $seconds += time - $start;
  $runs++;
  my %run = (status => ($wait & 0x7F) ? "signal $wait" : $wait >> 8);
  $run{$_->[0]} = slurp("$work/$_->[1]") // '' for [output => 'stdout'], [log => 'run.log'],
      [results => 'run.json'], [capture => 'capture.json'], [report => 'report.json'],
      [stderr => 'stderr'];
  return \%run;
}

# Per drive of the results file its path, decision and result code; the
# revisions the drives that took an image run after their next reset, sorted.
sub updateOutcome {
  my ($run) = @_;
  my $results = eval { decode_json($run->{results}) } // return "no results file: $run->{stderr}";
  my $report = eval { decode_json($run->{report}) } // return "no report: $run->{stderr}";
  my @decisions = map { [@$_{qw(devicePath decision resultCode)}] } @{ $results->{drives} };
  my @afterReset = sort map { ($_->{downloadedBytes} // 0) > 0 ? $_->{firmwareAfterReset} : () }
      @{ $report->{drives} };
  return $json->encode({ drives => \@decisions, firmwareAfterReset => \@afterReset });
}

# A fault only an update meets: a download or an activation.
sub hasUpdateFault {
  my ($value) = @_;
  if (ref $value eq 'HASH') {
    my $request = $value->{request} // '';
    return 1 if $request eq 'download' || $request eq 'activate';
    return grep { hasUpdateFault($_) } values %$value;
  }
  return ref $value eq 'ARRAY' ? grep { hasUpdateFault($_) } @$value : 0;
}

# The differences of two runs, in the order the host test checks them.
sub differences {
  my ($first, $second, @keys) = @_;
  return map {
    $first->{$_} eq $second->{$_}
        ? ()
        : "$_ differs at " . firstDifference($first->{$_}, $second->{$_})
  } @keys;
}

my $failures = 0;
for my $name (@names) {
  my $original = "$machines/$name.json";
  my $work = tempdir("zev-capture-$name.XXXXXX", TMPDIR => 1, CLEANUP => 1);
  my $captured = "$work/machine.json";
  my @check = ('/c', '/s', '/log=' . windowsPath("$work/run.log"),
               '/json=' . windowsPath("$work/run.json"),
               '/capture=' . windowsPath("$work/capture.json"));
  my @problems;

  my $first = runOn($work, $original, @check);
  my @missing = grep { $first->{$_} eq '' } qw(output log results capture);
  if (@missing) {
    push @problems, "the check on the original wrote no @missing: $first->{stderr}";
  } else {
    open(my $fh, '>:raw', $captured) or die "$captured: $!\n";
    print $fh $first->{capture};
    close $fh;
    my $second = runOn($work, $captured, @check);
    my @differ = differences($first, $second, qw(status output log results capture));
    if (exists $exceptions->{check}{$name}) {
      push @problems,
          "listed as an exception, but the check round-trips: $exceptions->{check}{$name}"
          unless @differ;
    } else {
      push @problems, map { "the check on the capture: $_" } @differ;
    }

    if (!hasUpdateFault(decode_json(slurp($original)))) {
      my @update = ('/s', '/json=' . windowsPath("$work/run.json"));
      my $before = updateOutcome(runOn($work, $original, @update));
      my $after = updateOutcome(runOn($work, $captured, @update));
      if (exists $exceptions->{update}{$name}) {
        push @problems,
            "listed as an exception, but the update round-trips: $exceptions->{update}{$name}"
            if $after eq $before;
      } elsif ($after ne $before) {
        push @problems,
            "the update on the capture differs:\n    original: $before\n    capture:  $after";
      }
    }
  }

  if (@problems) {
    $failures++;
    print "FAIL $name\n", map { "  $_\n" } @problems;
  } else {
    print "ok   $name\n";
  }
}

printf "%d of %d machines round-trip through zev-sim.exe under Wine; "
    . "%d runs in %.1f s, %.2f s each\n",
    @names - $failures, scalar @names, $runs, $seconds, $runs ? $seconds / $runs : 0;
exit($failures ? 1 : 0);
