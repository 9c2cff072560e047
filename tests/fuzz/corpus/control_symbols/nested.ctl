$set $set = s
$set $b = $set//x
$set $c = $b;$b;$set
v $c
