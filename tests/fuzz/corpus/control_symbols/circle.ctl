$set $loop = $loop;$set
$loop
