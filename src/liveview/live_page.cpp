#include "liveview/live_page.h"

namespace zantrel {

const QByteArray& LivePageHtml() {
    static const QByteArray page = R"(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Webcam Zantrel</title>
<style>
body{margin:0;font-family:sans-serif;background:#222;color:#eee}
header{display:flex;flex-wrap:wrap;gap:1em;align-items:center;padding:.5em}
#picture{display:block;max-width:100%;height:auto;margin:0 auto}
</style></head><body>
<header><label><input type="checkbox" id="live" aria-label="Live"> Live</label>
<span>Image: <span id="taken">-</span></span><span>Next update: <span id="next">-</span></span></header>
<img id="picture" src="current.jpg" alt="The latest image">
<script>
var picture=document.getElementById('picture'),live=document.getElementById('live'),tag=null;
function shown(t){return t?new Date(t).toLocaleString():'-';}
function refresh(){
  fetch('status.json',{cache:'no-store'}).then(function(r){return r.json();}).then(function(s){
    document.getElementById('next').textContent=shown(s.nextUpdate);
    if(!s.image)return;
    document.getElementById('taken').textContent=shown(s.image.time);
    if(!live.checked&&tag!==null&&tag!==s.image.etag)picture.src='current.jpg?v='+encodeURIComponent(s.image.etag);
    tag=s.image.etag;
  }).catch(function(){});
}
live.addEventListener('change',function(){
  picture.src=live.checked?'live.mjpg':'current.jpg?v='+Date.now();
});
refresh();setInterval(refresh,2000);
</script></body></html>
)";
    return page;
}

} // namespace zantrel
