# a control file
$set $dir = /data/
$set $n = 3
[model_time] # period
0
$n
file $dir//soil.txt;
x = 5# note
  $set $a = $dir
v $a $n
