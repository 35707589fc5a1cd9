# The comparison of a golden scenario's run with its golden files, shared by
# the runs of zev-sim.exe under Wine (run_golden.pl) and of the shipped
# executable through the Wine rig (tests/wine-rig/run_golden_rig.pl).
package GoldenCompare;
use strict;
use warnings;
use Exporter qw(import);
use JSON::PP;

our @EXPORT_OK = qw(slurp windowsPath firstDifference subsetMismatch runTo outputProblems);

my $json = JSON::PP->new->canonical->allow_nonref;

sub slurp {
  my ($path) = @_;
  open(my $fh, '<:raw', $path) or return undef;
  local $/;
  my $bytes = <$fh>;
  close $fh;
  return $bytes // '';
}

# Unix path to the Windows form of Wine's Z: drive.
sub windowsPath { 'Z:' . ($_[0] =~ s{/}{\\}gr) }

# The first line where two texts differ.
sub firstDifference {
  my ($expected, $actual) = @_;
  my @e = split /\n/, $expected, -1;
  my @a = split /\n/, $actual, -1;
  for my $i (0 .. ($#e > $#a ? $#e : $#a)) {
    my $el = $e[$i] // '<end>';
    my $al = $a[$i] // '<end>';
    next if $el eq $al;
    s/([^\x20-\x7e])/sprintf('\\x%02x', ord $1)/ge for $el, $al;
    return sprintf("line %d:\n    expected: [%s]\n    actual:   [%s]", $i + 1, $el, $al);
  }
  return 'texts differ in length only';
}

# Every key of expected is in actual with an equal value; arrays element by
# element and of equal length. Returns the path of the first mismatch.
sub subsetMismatch {
  my ($expected, $actual, $where) = @_;
  if (ref $expected eq 'HASH') {
    return "$where is not an object" unless ref $actual eq 'HASH';
    for my $key (sort keys %$expected) {
      return "$where.$key missing" unless exists $actual->{$key};
      my $m = subsetMismatch($expected->{$key}, $actual->{$key}, "$where.$key");
      return $m if defined $m;
    }
    return undef;
  }
  if (ref $expected eq 'ARRAY') {
    return "$where is not an array" unless ref $actual eq 'ARRAY';
    return "$where has " . @$actual . ' elements, expected ' . @$expected
        unless @$actual == @$expected;
    for my $i (0 .. $#$expected) {
      my $m = subsetMismatch($expected->[$i], $actual->[$i], "$where\[$i\]");
      return $m if defined $m;
    }
    return undef;
  }
  my ($e, $a) = ($json->encode($expected), $json->encode($actual));
  return $e eq $a ? undef : "$where is $a, expected $e";
}

# Runs a program with standard output and error to files; returns the wait
# status.
sub runTo {
  my ($stdout, $stderr, @command) = @_;
  my $pid = fork // die "fork: $!\n";
  if ($pid == 0) {
    open(STDIN, '<', '/dev/null') or die;
    open(STDOUT, '>:raw', $stdout) or die;
    open(STDERR, '>', $stderr) or die;
    exec(@command) or die "exec $command[0]: $!\n";
  }
  waitpid($pid, 0);
  return $?;
}

# A run of the scenario against its golden files: the exit status (its low 8
# bits, as a POSIX process status keeps them), standard output and, when the
# scenario has one, the log byte for byte ("{log}" standing for the run's log
# path $log). $wait is the run's wait status; the run's standard output is
# $work/stdout, its log $work/install.log. Returns the problems found.
sub outputProblems {
  my ($scenario, $wait, $dir, $work, $log) = @_;
  my @problems;
  my $expectedStatus = $scenario->{exitStatus} & 0xFF;
  my $status = $wait >> 8;
  push @problems, "exit status $status, expected $expectedStatus (of $scenario->{exitStatus})"
      unless ($wait & 0x7F) == 0 && $status == $expectedStatus;

  my $expectedOut = slurp("$dir/stdout.txt");
  my $out = slurp("$work/stdout") // '';
  push @problems, "standard output differs at " . firstDifference($expectedOut, $out)
      unless $out eq $expectedOut;

  if (-f "$dir/log.txt") {
    my $expectedLog = slurp("$dir/log.txt") =~ s/\{log\}/$log/gr;
    my $actualLog = slurp("$work/install.log");
    if (!defined $actualLog) {
      push @problems, 'no log file';
    } elsif ($actualLog ne $expectedLog) {
      push @problems, "log differs at " . firstDifference($expectedLog, $actualLog);
    }
  }
  return @problems;
}

1;
